// Debug information ("Quarn"): a 16-byte hash of each compiled stage, kept in
// its stage record, and one file per program that maps those hashes back to
// the stages' paths and sources. Format in docs/mendrix.md.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "toolchain/common/hash128.h"

namespace mendrix {

struct QuarnStage {
    std::string_view stageName;  // "vertex", "pixel", "geometry", "compute"
    std::string_view path;       // empty when the request had none
    std::string_view source;
    std::string_view binaryFormat;  // "spirv" or "validated"
    uint64_t binarySize = 0;
    toolchain::Hash128 hash{};
};

// The user's own folder for debug information files:
// ${XDG_CACHE_HOME:-$HOME/.cache}/Korvane/Lumo/ShaderSymbols (on Windows
// %LOCALAPPDATA%\Temp\Korvane\Lumo\ShaderSymbols). False, with a reason in
// `problem`, when the environment names no such place: the file is then not
// written at all rather than into a shared or the working folder.
bool defaultQuarnDirectory(std::string& directory, std::string& problem);

// The file's name inside the folder: the program hash in hex plus ".quarn".
std::string quarnFileName(const std::vector<QuarnStage>& stages);
std::string quarnFileText(const std::vector<QuarnStage>& stages);

// Where a debug information file may go.
enum class QuarnFolder : uint8_t {
    // The default folder: made private to the user (0700) if missing, set
    // back to 0700 when widened; refused when its last component is a
    // symbolic link or belongs to someone else. The file is 0600, and only a
    // file of the user's with one link is taken as already written.
    privateDefault,
    // A folder the user chose, perhaps shared by a team: no ownership check,
    // the file gets 0666 less the umask.
    chosen,
};

// Writes the file into `directory` atomically, creating missing folders; a
// symbolic link at the file's own path is replaced, never followed. A file
// that already holds exactly this text is left as it is (its modification
// time set to now). This user's temporary files older than ten minutes
// (left by killed runs) are removed from the folder. Returns
// the full file path in `writtenPath`; on failure false with a reason in
// `problem`.
bool writeQuarnFile(const std::string& directory, QuarnFolder folder,
                    const std::vector<QuarnStage>& stages, std::string& writtenPath,
                    std::string& problem);

}  // namespace mendrix
