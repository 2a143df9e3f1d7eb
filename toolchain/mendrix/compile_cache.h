// The compile cache seen from one compile: a lookup after the version
// policy (the local folder, then the remote storages of remote/remote_cache.h)
// and, after a successful compile, an entry prepared for the store
// that follows when the program is released (cache_store.h). Entries, key
// and location are described in docs/mendrix.md. The cache never fails a
// compile: a folder or entry that cannot be used is skipped (one line on
// standard error with VRXCOMPILE_CACHE_DEBUG=1; a folder others may write
// or that is not a cache, and a size limit that cannot be read, are warned
// about always).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/folder_handle.h"
#include "toolchain/mendrix/cache/cache_key.h"
#include "toolchain/mendrix/cache/cache_settings.h"
#include "toolchain/mendrix/front_end/diagnostics.h"
#include "toolchain/mendrix/output/debug_info.h"
#include "toolchain/mendrix/stage_job.h"

namespace mendrix {

// What the lookup found out, for the store.
struct CacheLookup {
    CacheSettings settings;
    bool usable = false;  // on, and the folder is open and ours
    safe_files::FolderHandle folder;
    CacheKey key{};
    std::string entryName;
    bool remote = false;  // remote storages are named (known after a local miss)
};

// Looks the program up. On a hit, fills the jobs' stage records, dumps and
// statistics blocks, `storage`, the log (into `diagnostics`) and the debug
// file's stages exactly as the compile would have, and returns true.
bool takeFromCache(const CompileRequest& request, uint32_t gpuVersion, std::vector<StageJob>& jobs,
                   ProgramStorage& storage, Diagnostics& diagnostics,
                   std::vector<QuarnStage>& quarnStages, CacheLookup& lookup);

// The include line maps of the stages (every included file's full path and
// where its lines stand), as bytes for the key. The log names these files,
// so a moved or reshaped include must miss. With a base folder
// (cache_base_folder.h) the files under it are named relative to it.
std::string includeLineMapKeyBytes(const std::vector<StageJob>& jobs,
                                   const std::string& baseFolder = std::string());

// After a compile without errors: encodes what the jobs handed out into
// `storage.pendingStore`, with the lookup's open folder.
void prepareCacheStore(CacheLookup& lookup, const CompileRequest& request,
                       const std::vector<StageJob>& jobs, ProgramStorage& storage,
                       const Diagnostics& diagnostics);

// Stores a pending entry, into the folder and then the remote storages
// (best effort, one debug line each), and clears `store`.
void completeCacheStore(PendingCacheStore& store);

}  // namespace mendrix
