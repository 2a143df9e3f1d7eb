// A readable account of a .vrx shader file, as the inspector prints it.
#pragma once

#include <string>

#include "toolchain/tmb/vrx_format.h"

namespace tmb {

// Header fields, then every program with its stages (kind, format, size,
// offset, hash, flags) and their reflection entries. `fileSize` is the size
// of the file the model was read from.
std::string describeShaderFile(const ShaderFile& file, size_t fileSize);

}  // namespace tmb
