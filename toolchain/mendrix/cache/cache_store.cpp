#include "toolchain/mendrix/cache/cache_store.h"

#include "toolchain/mendrix/cache/cache_eviction.h"
#include "toolchain/mendrix/cache/cache_folder.h"

namespace mendrix {

void storeInCacheFolder(const PendingCacheStore& store) {
    const std::string where = cachePath(store.settings.folder, store.entryName);
    const uint64_t freeSpace = safe_files::freeSpaceOf(store.folder);
    if (freeSpace < kCacheFreeSpaceMargin ||
        freeSpace - kCacheFreeSpaceMargin < store.bytes.size()) {
        cacheDebugLine(store.settings, "not stored:", where + ": less than 64 MiB would stay free");
        return;
    }
    std::string temporary;
    uint64_t diskUse = 0;
    std::string error;
    if (!safe_files::writeTemporaryFile(store.folder, store.entryName, store.bytes.data(),
                                        store.bytes.size(), safe_files::FileMode::privateUnflushed,
                                        temporary, diskUse, error)) {
        cacheDebugLine(store.settings, "not stored:", where + ": " + error);
        return;
    }
    if (diskUse > store.settings.maxSize) {
        safe_files::removeFromFolder(store.folder, temporary);
        return;  // it would be evicted at once
    }
    if (!placeEntry(store.folder, temporary, store.entryName, diskUse, store.settings.maxSize,
                    error)) {
        cacheDebugLine(store.settings, "not stored:", where + ": " + error);
        return;
    }
    cacheDebugLine(store.settings, "stored", where);
}

}  // namespace mendrix
