// The JSON form of a .vrx file that `vrxInfo --json` prints: the same facts
// as describeShaderFile, for tools that should not parse text. The schema is
// in docs/vrx-format.md.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "toolchain/tmb/vrx_format.h"

namespace tmb {

// A JSON string literal of `bytes`: valid UTF-8 passes through (with the
// escapes JSON requires); each byte of an invalid sequence becomes \u00XX.
std::string jsonString(std::string_view bytes);

std::string describeShaderFileJson(const ShaderFile& file, size_t fileSize);

}  // namespace tmb
