#include "toolchain/mendrix/remote/storage_health.h"

#include <chrono>
#include <string>

#include "toolchain/mendrix/cache/cache_folder.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace mendrix::remote {

namespace {

constexpr uint64_t kMarkerReadLimit = 32;

std::string markerName(const StorageAddress& address) {
    static constexpr char kDigits[] = "0123456789abcdef";
    uint64_t hash = XXH3_64bits(address.shown.data(), address.shown.size());
    std::string name = kRemoteDownMarkerPrefix;
    for (int shift = 60; shift >= 0; shift -= 4) {
        name += kDigits[(hash >> shift) & 0xf];
    }
    return name;
}

int64_t secondsNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

bool storageMarkedDown(const safe_files::FolderHandle& folder, const StorageAddress& address) {
    std::string text;
    std::string error;
    if (safe_files::readOwnFile(folder, markerName(address), kMarkerReadLimit, text, error) !=
            safe_files::ReadResult::read ||
        text.empty() || text.size() > 19 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const int64_t failedAt = std::stoll(text);
    const int64_t now = secondsNow();
    // A time ahead of the clock (it was set back) counts as no marker.
    return failedAt <= now && now - failedAt < kStorageDownSeconds;
}

void markStorageDown(const safe_files::FolderHandle& folder, const StorageAddress& address) {
    const std::string text = std::to_string(secondsNow());
    std::string error;
    safe_files::writeFileInFolder(folder, markerName(address), text.data(), text.size(),
                                  safe_files::FileMode::privateUnflushed, error);
}

}  // namespace mendrix::remote
