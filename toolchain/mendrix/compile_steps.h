// The steps of one program's compile, shared by the library's own compile
// (compiler.cpp) and the compile service (service/), which runs the middle
// steps for a client that did the rest.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "libraries/compiler_records.h"
#include "toolchain/mendrix/front_end/diagnostics.h"
#include "toolchain/mendrix/output/debug_info.h"
#include "toolchain/mendrix/stage_job.h"

namespace mendrix {

// What the steps fill for one program compiled apart from a caller's set
// (the compile service's requests and warm-ups): the set the jobs point
// into, the jobs, the log's messages, the storage and the stages of the
// debug information file.
struct ProgramWork {
    ProgramWork() { std::memset(&set, 0, sizeof set); }

    CompiledShaderSet set;
    std::vector<StageJob> jobs;
    Diagnostics diagnostics;
    ProgramStorage storage;
    std::vector<DebugInfoStage> debugInfoStages;
};

// One job per stage of the request, in pipeline order (also the order of
// the log), pointing into `set`. False, with an error, when the request
// holds no stage or mixes compute with other stages.
bool collectJobs(const CompileRequest& request, CompiledShaderSet& set, std::vector<StageJob>& jobs,
                 Diagnostics& diagnostics);

// Learns where each line of every stage's text came from (reading the
// stage's files), so that the log can name the file and line of a mistake.
void buildLineMaps(std::vector<StageJob>& jobs);

// Reads each stage's #version, checks it against the requested language and
// decides whether the program can become SPIR-V. Errors go to `diagnostics`.
void applyVersionPolicy(std::vector<StageJob>& jobs, bool essl, Diagnostics& diagnostics);

// Runs the front end, checks the stream-out list and emits every stage into
// `storage` and the jobs' records; stages with a debug hash are added to
// `debugInfoStages`. False when the program failed (the log in `diagnostics`).
bool compileJobs(const CompileRequest& request, uint32_t gpuVersion, std::vector<StageJob>& jobs,
                 ProgramStorage& storage, Diagnostics& diagnostics,
                 std::vector<DebugInfoStage>& debugInfoStages);

// Writes the program's debug information file; a failure is a warning only.
void writeDebugFile(const CompileRequest& request, const std::vector<StageJob>& jobs,
                    const std::vector<DebugInfoStage>& debugInfoStages, Diagnostics& diagnostics);

}  // namespace mendrix
