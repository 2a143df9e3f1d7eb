#include "toolchain/mendrix/remote/storage_health.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

#include "platform/decimal.h"
#include "toolchain/common/hash128.h"
#include "toolchain/mendrix/cache/cache_folder.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace mendrix::remote {

namespace {

constexpr uint64_t kMarkerReadLimit = 32;

std::string markerName(const StorageAddress& address) {
    uint64_t hash = XXH3_64bits(address.shown.data(), address.shown.size());
    std::array<uint8_t, 8> bytes{};  // highest first, as the hash reads
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(hash >> (56 - 8 * i));
    }
    return kRemoteDownMarkerPrefix + toolchain::hexOf(bytes);
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
    uint64_t digits = 0;
    if (parseDecimalDigits(text.c_str(), digits) == nullptr ||
        digits > static_cast<uint64_t>(INT64_MAX)) {
        return false;
    }
    const auto failedAt = static_cast<int64_t>(digits);
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
