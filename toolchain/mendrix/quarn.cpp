#include "toolchain/mendrix/quarn.h"

#include <cstdlib>
#include <filesystem>

#include "platform/folder_handle.h"

namespace mendrix {

namespace {

__extension__ typedef unsigned __int128 Uint128;

Uint128 makeUint128(uint64_t high, uint64_t low) {
    return (static_cast<Uint128>(high) << 64) | low;
}

Hash128 programHash(const std::vector<QuarnStage>& stages) {
    std::string all;
    for (const QuarnStage& stage : stages) {
        all.append(reinterpret_cast<const char*>(stage.hash.data()), stage.hash.size());
    }
    return hash128(all);
}

std::string folderProblem(safe_files::FolderResult result, const std::string& error) {
    switch (result) {
        case safe_files::FolderResult::symbolicLink:
            return "it is a symbolic link";
        case safe_files::FolderResult::foreignOwner:
            return "it belongs to another user";
        case safe_files::FolderResult::notAFolder:
            return "it is not a folder";
        case safe_files::FolderResult::writableByOthers:
            return "other users may write into it";
        default:
            return error.empty() ? "it cannot be created" : error;
    }
}

}  // namespace

Hash128 hash128(std::string_view bytes) {
    const Uint128 prime = makeUint128(0x0000000001000000ull, 0x000000000000013Bull);
    Uint128 state = makeUint128(0x6c62272e07bb0142ull, 0x62b821756295c58dull);
    for (char c : bytes) {
        state ^= static_cast<uint8_t>(c);
        state *= prime;
    }
    Hash128 digest{};
    for (int i = 15; i >= 0; --i) {
        digest[i] = static_cast<uint8_t>(state & 0xff);
        state >>= 8;
    }
    return digest;
}

std::string hexOf(const Hash128& hash) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(32);
    for (uint8_t byte : hash) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xf];
    }
    return text;
}

bool defaultQuarnDirectory(std::string& directory, std::string& problem) {
    auto variable = [](const char* name) -> std::string {
        const char* value = std::getenv(name);
        return value != nullptr ? value : "";
    };
#ifdef _WIN32
    std::string root = variable("LOCALAPPDATA");
    if (root.empty()) {
        problem = "no default folder: LOCALAPPDATA is not set (name one with -quarndir)";
        return false;
    }
    directory = root + "\\Temp\\Korvane\\Lumo\\ShaderSymbols";
#else
    std::string root = variable("XDG_CACHE_HOME");
    if (root.empty() && !variable("HOME").empty()) {
        root = variable("HOME") + "/.cache";
    }
    if (root.empty()) {
        problem =
            "no default folder: neither XDG_CACHE_HOME nor HOME is set (name one with -quarndir)";
        return false;
    }
    directory = root + "/Korvane/Lumo/ShaderSymbols";
#endif
    return true;
}

std::string quarnFileName(const std::vector<QuarnStage>& stages) {
    return hexOf(programHash(stages)) + ".quarn";
}

std::string quarnFileText(const std::vector<QuarnStage>& stages) {
    std::string text = "QUARN 1\n";
    text += "program " + hexOf(programHash(stages)) + "\n";
    text += "stages " + std::to_string(stages.size()) + "\n";
    for (const QuarnStage& stage : stages) {
        text += "stage ";
        text += stage.stageName;
        text += ' ';
        text += hexOf(stage.hash);
        text += ' ';
        text += stage.binaryFormat;
        text += ' ';
        text += std::to_string(stage.binarySize);
        text += "\npath ";
        text += stage.path.empty() ? std::string_view("-") : stage.path;
        text += "\nsource " + std::to_string(stage.source.size()) + "\n";
        text += stage.source;
        text += '\n';
    }
    text += "end\n";
    return text;
}

namespace {

// Opens the folder the file goes into, as `folder` asks.
bool openQuarnFolder(const std::string& directory, QuarnFolder folder,
                     safe_files::FolderHandle& handle, std::string& problem) {
    std::string error;
    if (folder == QuarnFolder::chosen) {
        if (!safe_files::openSharedFolder(directory, handle, error)) {
            problem = "cannot create folder " + directory + ": " + error;
            return false;
        }
        return true;
    }
    const safe_files::FolderResult result = safe_files::openPrivateFolder(
        directory, safe_files::FolderOrigin::ownDefault, handle, error);
    if (result != safe_files::FolderResult::ready) {
        problem = "folder " + directory + " is not usable: " + folderProblem(result, error);
        return false;
    }
    return true;
}

}  // namespace

bool writeQuarnFile(const std::string& directory, QuarnFolder folder,
                    const std::vector<QuarnStage>& stages, std::string& writtenPath,
                    std::string& problem) {
    safe_files::FolderHandle handle;
    if (!openQuarnFolder(directory, folder, handle, problem)) {
        return false;
    }
    const std::string name = quarnFileName(stages);
    writtenPath = (std::filesystem::path(directory) / name).string();
    const std::string text = quarnFileText(stages);
    const bool privateFolder = folder == QuarnFolder::privateDefault;
    // The same program compiled again: the file stays, only its time moves
    // (so age-based pruning keeps the files of binaries still built).
    const bool unchanged =
        safe_files::holdsExactly(handle, name, text.data(), text.size(), privateFolder);
    std::string error;
    const safe_files::FileMode mode =
        privateFolder ? safe_files::FileMode::privateToUser : safe_files::FileMode::shared;
    if (unchanged) {
        safe_files::touchInFolder(handle, name);
    } else if (!safe_files::writeFileInFolder(handle, name, text.data(), text.size(), mode,
                                              error)) {
        problem = "cannot write " + writtenPath + ": " + error;
        return false;
    }
    safe_files::removeAbandonedTemporaryFiles(handle);
    return true;
}

}  // namespace mendrix
