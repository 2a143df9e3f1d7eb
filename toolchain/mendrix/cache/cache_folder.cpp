#include "toolchain/mendrix/cache/cache_folder.h"

#include <vector>

namespace mendrix {

namespace {

constexpr uint64_t kTagReadLimit = 4096;
constexpr uint64_t kEarlierCounterDigits = 20;

const std::string kTagText = std::string(kCacheTagSignature) +
                             "\n# This file marks the compile cache of vrxCompile's compiler "
                             "library.\n# Backup and archiving tools that honour cache folder "
                             "tags skip this folder.\n";

bool hasTag(const safe_files::FolderHandle& folder) {
    std::string text;
    std::string error;
    return safe_files::readOwnFile(folder, kCacheTagName, kTagReadLimit, text, error) ==
               safe_files::ReadResult::read &&
           std::string_view(text).starts_with(kCacheTagSignature);
}

// The earlier releases' counter: a small file of decimal digits.
bool isEarlierCounter(const safe_files::FolderHandle& folder, const std::string& name) {
    std::string text;
    std::string error;
    return name == kEarlierCacheCounterName &&
           safe_files::readOwnFile(folder, name, kEarlierCounterDigits, text, error) ==
               safe_files::ReadResult::read &&
           text.find_first_not_of("0123456789") == std::string::npos;
}

// Empty, or nothing but entries, counters and temporary files of this
// library (a cache made by an earlier release, or one whose tag was lost).
bool holdsOnlyCacheFiles(const safe_files::FolderHandle& folder) {
    for (const std::string& name : safe_files::namesInFolder(folder)) {
        if (!isCacheEntryName(name) && name != kCacheCounterName &&
            !std::string_view(name).starts_with(kRemoteDownMarkerPrefix) &&
            !safe_files::isTemporaryFileName(name) && !isEarlierCounter(folder, name)) {
            return false;
        }
    }
    return true;
}

std::string folderReason(safe_files::FolderResult result, const std::string& folder,
                         const std::string& error) {
    if (result == safe_files::FolderResult::writableByOthers) {
        return "off: " + folder +
               " may be written by other users; a cache shared between users is not supported";
    }
    return folder + ": " + error;
}

}  // namespace

bool isCacheEntryName(std::string_view name) {
    const std::string_view suffix = kCacheEntrySuffix;
    return name.size() == 32 + suffix.size() && name.substr(32) == suffix &&
           name.find_first_not_of("0123456789abcdef") == 32;
}

CacheFolderState openCacheFolder(const CacheSettings& settings, safe_files::FolderHandle& folder,
                                 std::string& reason) {
    std::string error;
    const safe_files::FolderResult opened =
        safe_files::openPrivateFolder(settings.folder,
                                      settings.folderNamed ? safe_files::FolderOrigin::named
                                                           : safe_files::FolderOrigin::ownDefault,
                                      folder, error);
    if (opened != safe_files::FolderResult::ready) {
        reason = folderReason(opened, settings.folder, error);
        return opened == safe_files::FolderResult::writableByOthers ? CacheFolderState::refused
                                                                    : CacheFolderState::off;
    }
    if (hasTag(folder)) {
        return CacheFolderState::ready;
    }
    if (!holdsOnlyCacheFiles(folder)) {
        folder = safe_files::FolderHandle();
        reason = "off: " + settings.folder + " holds files that are not the cache's and no " +
                 kCacheTagName + "; name an empty folder for the cache";
        return CacheFolderState::refused;
    }
    if (!safe_files::writeFileInFolder(folder, kCacheTagName, kTagText.data(), kTagText.size(),
                                       safe_files::FileMode::privateUnflushed, error)) {
        folder = safe_files::FolderHandle();
        reason = settings.folder + ": cannot write " + kCacheTagName + ": " + error;
        return CacheFolderState::off;
    }
    return CacheFolderState::ready;
}

}  // namespace mendrix
