// Usage counters of one compiled stage (the nine ShaderStats counters),
// computed from the SPIR-V words or, for the validated form, from the
// front end's tree. Definitions in docs/mendrix.md.
#pragma once

#include <cstdint>
#include <vector>

#include "libraries/compiler_records.h"

namespace glslang {
class TIntermediate;
}

namespace mendrix {

// Size of the register pool of a GPU version (1 or 2).
uint32_t gprPoolSizeFor(uint32_t gpuVersion);

ShaderStats statsFromSpirv(const std::vector<uint32_t>& words, bool vertexStage,
                           uint32_t gpuVersion);
ShaderStats statsFromTree(const glslang::TIntermediate& stage, uint32_t gpuVersion);

}  // namespace mendrix
