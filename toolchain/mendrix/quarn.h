// Debug information ("Quarn"): a 16-byte hash of each compiled stage, kept in
// its stage record, and one file per program that maps those hashes back to
// the stages' paths and sources. Format in docs/mendrix.md.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mendrix {

using Hash128 = std::array<uint8_t, 16>;

// FNV-1a, 128-bit, over `bytes`; the digest is stored big-endian.
Hash128 hash128(std::string_view bytes);
std::string hexOf(const Hash128& hash);

struct QuarnStage {
    std::string_view stageName;  // "vertex", "pixel", "geometry", "compute"
    std::string_view path;       // empty when the request had none
    std::string_view source;
    std::string_view binaryFormat;  // "spirv" or "validated"
    uint64_t binarySize = 0;
    Hash128 hash{};
};

// ${TMPDIR:-/tmp}/Korvane/Lumo/ShaderSymbols (on Windows under
// %LOCALAPPDATA%\Temp).
std::string defaultQuarnDirectory();

// The file's name inside the folder: the program hash in hex plus ".quarn".
std::string quarnFileName(const std::vector<QuarnStage>& stages);
std::string quarnFileText(const std::vector<QuarnStage>& stages);

// Writes the file into `directory`, creating the folders. Returns the full
// file path in `writtenPath`; on failure false with a reason in `problem`.
bool writeQuarnFile(const std::string& directory, const std::vector<QuarnStage>& stages,
                    std::string& writtenPath, std::string& problem);

}  // namespace mendrix
