// The SPIR-V optimiser and validator that every SPIR-V stage goes through
// before it is stored. docs/mendrix.md lists the passes of each bit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mendrix {

// Bits of the request's optimizationFlags that choose passes.
constexpr uint64_t kOptimizeBackend = 0x1;        // "sc"
constexpr uint64_t kOptimizeFastMath = 0x2;       // "fastmath"
constexpr uint64_t kOptimizeLoopVariables = 0x4;  // "loopvar"
constexpr uint64_t kOptimizeConstants = 0x8;      // "const"
constexpr uint64_t kOptimizeLoopUnroll = 0x10;    // "loopexpr"
constexpr uint64_t kOptimizeUnusedStores = 0x20;  // "unusedvar"
constexpr uint64_t kLimitArraySymbols = 0x40;     // not an optimisation: reflection only
constexpr uint64_t kOptimizeUnusedCode = 0x80;    // "glsl"

// Runs the passes that `optimizationFlags` chooses over `words` in place.
// False, with the optimiser's first message, when it fails; `words` is then
// unchanged.
bool optimizeSpirv(std::vector<uint32_t>& words, uint64_t optimizationFlags, std::string& problem);

// True when `words` is valid SPIR-V for OpenGL; else false with the
// validator's message.
bool validateSpirv(const std::vector<uint32_t>& words, std::string& problem);

}  // namespace mendrix
