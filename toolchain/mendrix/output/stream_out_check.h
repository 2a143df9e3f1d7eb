// Checking the stream-out names of a request against the program's outputs.
#pragma once

#include <vector>

#include "toolchain/mendrix/output/reflection.h"
#include "toolchain/mendrix/stage_job.h"

namespace mendrix {

// The last stage before rasterisation (vertex or geometry), or null.
const StageJob* streamOutStageOf(const std::vector<StageJob>& jobs);

// Turns the request's stream-out names into reflection entries of the
// stream-out stage. A name that is neither an output of that stage nor a
// built-in is an error; a list without such a stage only a warning.
std::vector<ReflectionEntry> checkStreamOut(const CompileRequest& request,
                                            const std::vector<StageJob>& jobs,
                                            const glslang::TProgram& program,
                                            Diagnostics& diagnostics);

}  // namespace mendrix
