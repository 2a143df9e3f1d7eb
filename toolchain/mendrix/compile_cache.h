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
#include <string_view>
#include <vector>

#include "platform/folder_handle.h"
#include "toolchain/mendrix/cache/cache_entry.h"
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
                   std::vector<DebugInfoStage>& debugInfoStages, CacheLookup& lookup);

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

// What the jobs of a compile without errors handed out, as an entry with
// `key` and `log`: for the store, and the compile service's answer.
CacheEntry entryOfCompile(const CacheKey& key, std::string log, const CompileRequest& request,
                          const std::vector<StageJob>& jobs, const ProgramStorage& storage);

// Fills the jobs, `storage`, the log and the debug file's stages from the
// bytes of an entry made for exactly this compile (the compile service's
// answer), as a hit does and after the same checks: intact, `key`, every
// stage what its job would hand out. False, with nothing filled, otherwise.
bool takeFromEntry(std::string_view bytes, const CacheKey& key, const CompileRequest& request,
                   uint32_t gpuVersion, std::vector<StageJob>& jobs, ProgramStorage& storage,
                   Diagnostics& diagnostics, std::vector<DebugInfoStage>& debugInfoStages);

// Stores a pending entry, into the folder and then the remote storages
// (best effort, one debug line each), and clears `store`.
void completeCacheStore(PendingCacheStore& store);

}  // namespace mendrix
