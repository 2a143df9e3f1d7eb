// The compile cache seen from one compile: a lookup after the version
// policy and a store after a successful compile. Entries, key and location
// are described in docs/mendrix.md. The cache never fails a compile: a
// folder or entry that cannot be used is skipped (one line on standard
// error with VRXCOMPILE_CACHE_DEBUG=1).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "toolchain/mendrix/cache_key.h"
#include "toolchain/mendrix/cache_settings.h"
#include "toolchain/mendrix/diagnostics.h"
#include "toolchain/mendrix/quarn.h"
#include "toolchain/mendrix/stage_job.h"

namespace mendrix {

// What the lookup found out, for the store.
struct CacheLookup {
    CacheSettings settings;
    bool usable = false;  // on, and the folder is the user's own
    CacheKey key{};
    uint32_t compileFlags = 0;  // the request's: statistics are kept only when asked for
    std::string entryPath;
    uint64_t replacedBytes = 0;  // size of an unusable entry found at entryPath
};

// Looks the program up. On a hit, fills the jobs' stage records, dumps and
// statistics blocks, `storage`, the log (into `diagnostics`) and the debug
// file's stages exactly as the compile would have, and returns true.
bool takeFromCache(const CompileRequest& request, uint32_t gpuVersion, std::vector<StageJob>& jobs,
                   ProgramStorage& storage, Diagnostics& diagnostics,
                   std::vector<QuarnStage>& quarnStages, CacheLookup& lookup);

// Stores what the jobs handed out after a compile without errors.
void storeInCache(CacheLookup& lookup, const std::vector<StageJob>& jobs,
                  const ProgramStorage& storage, const Diagnostics& diagnostics);

}  // namespace mendrix
