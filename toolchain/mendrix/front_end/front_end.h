// Running the glslang front end over a program's stages.
#pragma once

#include <memory>
#include <vector>

#include "toolchain/mendrix/stage_job.h"

namespace mendrix {

// Parses every job and links the program, in SPIR-V mode where the job
// allows it and `allowSpirv` is set, otherwise plain (with tree dumps when
// `treeDumps` is set). Diagnostics go into `run`.
void runFrontEnd(std::vector<StageJob>& jobs, bool allowSpirv, bool treeDumps, FrontEndRun& run);

// Runs the front end in SPIR-V mode; a program that only breaks the SPIR-V
// rules is run again plain and kept in the validated form, with the first
// complaint as a warning. `spirvKept` tells which run the result is.
std::unique_ptr<FrontEndRun> runFrontEndWithFallback(std::vector<StageJob>& jobs, bool treeDumps,
                                                     bool& spirvKept);

}  // namespace mendrix
