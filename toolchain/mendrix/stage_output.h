// Everything a compiled stage hands out: binary, reflection, stage record,
// dump and statistics.
#pragma once

#include <vector>

#include "toolchain/mendrix/quarn.h"
#include "toolchain/mendrix/reflection.h"
#include "toolchain/mendrix/stage_job.h"

namespace mendrix {

// What every stage of one program shares.
struct ProgramOutput {
    const CompileRequest* request = nullptr;
    uint32_t gpuVersion = 0;
    bool spirvKept = false;  // the program is stored as SPIR-V where its stages allow
    FrontEndRun* run = nullptr;
    const StageJob* streamOutStage = nullptr;
    const std::vector<ReflectionEntry>* streamOut = nullptr;
};

// Fills the job's stage record in the set, its storage, its dump and its
// statistics block. A stage with a debug hash is added to `quarnStages`.
// `index` is the job's place among the jobs (and the run's shaders).
void emitStage(const ProgramOutput& program, StageJob& job, size_t index, StageStorage& out,
               Diagnostics& diagnostics, std::vector<QuarnStage>& quarnStages);

}  // namespace mendrix
