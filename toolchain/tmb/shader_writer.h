// The work behind the writer library's entry points: turning the driver's
// stage records into programs, and writing, appending and writing as code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "libraries/writer_records.h"
#include "toolchain/tmb/vrx_format.h"

namespace tmb {

// The programs of `recordCount` consecutive records. False (with a reason)
// when a record is missing, carries no stage, or leads to a stage record
// that is not a compiled stage of its slot's kind. `recordGpuVersion` is the
// GPU version the first stage record was compiled for (0 when unknown).
bool programsFromRecords(const WriterOptions* records, uint32_t recordCount,
                         std::vector<Program>& programs, uint32_t& recordGpuVersion,
                         std::string& error);
bool programsFromRecords(const WriterShaders* records, uint32_t recordCount,
                         std::vector<Program>& programs, uint32_t& recordGpuVersion,
                         std::string& error);

// Writes `file` as a new .vrx file at `path`, replacing any file there.
bool writeShaderFile(const std::string& path, const ShaderFile& file, std::string& error);

// Adds the programs of `additions` to the existing .vrx file at `path`. The
// existing file must validate completely and match `additions` in GPU
// version, endian swap mode and alignment; otherwise it is left untouched.
bool appendShaderFile(const std::string& path, const ShaderFile& additions, std::string& error);

// Writes `file` as a C/C++ header holding the .vrx bytes as an array.
bool writeShaderHeader(const std::string& path, const ShaderFile& file, std::string& error);

// Identifiers of a generated header: derived from the file name of `path`,
// letters, digits and single underscores only, never starting with a digit.
std::string headerIdentifier(const std::string& path);
std::string headerText(const std::string& identifier, const std::vector<uint8_t>& fileBytes);

// The alignment of the array in a generated header.
constexpr uint32_t kHeaderArrayAlignment = 256;

}  // namespace tmb
