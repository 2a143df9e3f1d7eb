// Whole-file reading and the all-or-nothing replacement every write of the
// writer library goes through.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tmb {

// Reads a whole regular file. False (with a reason) when it is missing, is
// not a regular file or cannot be read completely.
bool readWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error);

// Writes `bytes` to a fresh temporary file in the folder of `path`, flushes it
// to disk and renames it over `path`. On any failure the temporary file is
// removed and whatever was at `path` is left exactly as it was. A `path` that
// names a folder is refused.
bool replaceFileAtomically(const std::string& path, std::span<const uint8_t> bytes,
                           std::string& error);

// The prefix and suffix of the temporary files, so stray ones can be found.
constexpr const char* kTemporaryPrefix = ".tmb-";
constexpr const char* kTemporarySuffix = ".tmp";

}  // namespace tmb
