// Keeping the front end warm in the service's parent process: glslang
// builds its built-in symbol tables per stage, version and profile on first
// use, which is most of a cold compile. The parent compiles a tiny program
// of each shape it has seen (and of a common set at start), so the children
// it forks find those tables ready.
#pragma once

#include <string>
#include <vector>

#include "toolchain/mendrix/stage_job.h"

namespace mendrix {

// A program's shape: per stage its slot and #version, "v 450;p 450;".
std::string programShape(const std::vector<StageJob>& jobs);

// Shapes warmed when the service starts.
std::vector<std::string> commonProgramShapes();

// Compiles a tiny program of `shape`; a shape that is not one is ignored.
void warmProgramShape(const std::string& shape);

}  // namespace mendrix
