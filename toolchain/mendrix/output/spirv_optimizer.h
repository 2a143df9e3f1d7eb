// The SPIR-V optimiser and validator that every SPIR-V stage goes through
// before it is stored. docs/mendrix.md lists the passes of each bit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "libraries/compiler_records.h"

namespace mendrix {

// The bits of the request's optimizationFlags that choose passes are those
// of libraries/compiler_records.h.

// Runs the passes that `optimizationFlags` chooses over `words` in place.
// False, with the optimiser's first message, when it fails; `words` is then
// unchanged.
bool optimizeSpirv(std::vector<uint32_t>& words, uint64_t optimizationFlags, std::string& problem);

// True when `words` is valid SPIR-V for OpenGL; else false with the
// validator's message.
bool validateSpirv(const std::vector<uint32_t>& words, std::string& problem);

}  // namespace mendrix
