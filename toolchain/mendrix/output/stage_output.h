// Everything a compiled stage hands out: binary, reflection, stage record,
// dump and statistics.
#pragma once

#include <vector>

#include "toolchain/mendrix/output/debug_info.h"
#include "toolchain/mendrix/output/reflection.h"
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

// Reflects the program, generates, validates and (when asked) optimises the
// SPIR-V of its stages, then fills each job's stage record in the set, its
// storage, dump and statistics block. Stages with a debug hash are added to
// `quarnStages`. A program whose SPIR-V fails validation is stored whole in
// the validated form, with one warning, and `program.spirvKept` turns false.
void emitProgram(ProgramOutput& program, std::vector<StageJob>& jobs, ProgramStorage& storage,
                 Diagnostics& diagnostics, std::vector<QuarnStage>& quarnStages);

}  // namespace mendrix
