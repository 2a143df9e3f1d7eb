// A compile's entry waiting to be stored. The compile encodes its entry and
// keeps it with the open cache folder; the store itself happens when the
// compiled program is released (VRX2DestroyPT4Program3, which the driver
// calls after it wrote the output, or VRX2Destroy), so the cache never
// takes disk space the output needs. A store that would leave less than
// kCacheFreeSpaceMargin free on the folder's file system is skipped. The
// remote storages are written after the folder (completeCacheStore,
// compile_cache.h).
#pragma once

#include <cstdint>
#include <string>

#include "platform/folder_handle.h"
#include "toolchain/mendrix/cache/cache_settings.h"

namespace mendrix {

// Free space a store always leaves on the cache's file system.
constexpr uint64_t kCacheFreeSpaceMargin = uint64_t{64} << 20;

struct PendingCacheStore {
    bool pending = false;
    bool local = false;   // into the folder
    bool remote = false;  // into the remote storages that are not read-only
    CacheSettings settings;
    safe_files::FolderHandle folder;
    std::string entryName;
    std::string bytes;  // the encoded entry
};

// Stores a pending entry into the folder (best effort, one debug line).
void storeInCacheFolder(const PendingCacheStore& store);

}  // namespace mendrix
