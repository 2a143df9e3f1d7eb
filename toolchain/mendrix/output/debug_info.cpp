#include "toolchain/mendrix/output/debug_info.h"

#include <cstdlib>
#include <filesystem>

#include "platform/folder_handle.h"

namespace mendrix {

namespace {

toolchain::Hash128 programHash(const std::vector<QuarnStage>& stages) {
    std::string all;
    for (const QuarnStage& stage : stages) {
        all.append(reinterpret_cast<const char*>(stage.hash.data()), stage.hash.size());
    }
    return toolchain::hash128(all);
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
    return toolchain::hexOf(programHash(stages)) + ".quarn";
}

std::string quarnFileText(const std::vector<QuarnStage>& stages) {
    std::string text = "QUARN 1\n";
    text += "program " + toolchain::hexOf(programHash(stages)) + "\n";
    text += "stages " + std::to_string(stages.size()) + "\n";
    for (const QuarnStage& stage : stages) {
        text += "stage ";
        text += stage.stageName;
        text += ' ';
        text += toolchain::hexOf(stage.hash);
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
