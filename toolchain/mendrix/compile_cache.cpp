#include "toolchain/mendrix/compile_cache.h"

#include <algorithm>
#include <cstring>

#include "toolchain/common/hash128.h"
#include "toolchain/common/little_endian.h"
#include "toolchain/mendrix/cache/cache_base_folder.h"
#include "toolchain/mendrix/cache/cache_entry.h"
#include "toolchain/mendrix/cache/cache_folder.h"
#include "toolchain/mendrix/cache/cache_store.h"
#include "toolchain/mendrix/front_end/line_map.h"
#include "toolchain/mendrix/remote/remote_cache.h"

namespace mendrix {

namespace {

// A stage of an entry is used only where it is what this job would hand
// out: same slot and kind, a form the stage can have, this handle's GPU
// version and the request's optimisation mask, a debug hash, dump and
// statistics exactly where the request asks for them.
bool stageFitsJob(const CachedStage& stage, const StageJob& job, const CompileRequest& request,
                  uint32_t gpuVersion) {
    const toolchain::StageRecord& record = stage.record;
    const uint32_t flags = request.compileFlags;
    const bool hashWanted = (flags & kCompileFlagNoQuarn) == 0;
    const bool statsWanted = job.stats != nullptr && (flags & kCompileFlagInstructionStats) != 0;
    return stage.slot == job.storageIndex && record.kind == job.kind &&
           (record.binaryFormat == toolchain::kBinaryValidated || job.spirv) &&
           record.gpuVersion == gpuVersion &&
           record.optimizationFlags == request.optimizationFlags &&
           ((record.flags & toolchain::kStageFlagHashPresent) != 0) == hashWanted &&
           stage.hasDump == ((flags & kCompileFlagDumpDebugInfo) != 0) &&
           stage.hasStats == statsWanted;
}

bool entryFitsJobs(const CacheEntry& entry, const CompileRequest& request, uint32_t gpuVersion,
                   const std::vector<StageJob>& jobs) {
    if (entry.stages.size() != jobs.size()) {
        return false;
    }
    for (size_t i = 0; i < jobs.size(); ++i) {
        if (!stageFitsJob(entry.stages[i], jobs[i], request, gpuVersion)) {
            return false;
        }
    }
    return true;
}

void fillStage(CachedStage& cached, StageJob& job, StageStorage& out,
               std::vector<DebugInfoStage>& debugInfoStages) {
    out.binary = std::move(cached.binary);
    out.reflection = std::move(cached.reflection);
    if (job.requestPath != nullptr) {
        out.path = job.requestPath;
    }
    // Sizes are those of the bytes held, whatever the entry said.
    toolchain::StageRecord record = cached.record;
    record.binary = out.binary.data();
    record.binarySize = out.binary.size();
    record.reflection = out.reflection.data();
    record.reflectionSize = out.reflection.size();
    record.sourcePath = job.requestPath != nullptr ? out.path.c_str() : nullptr;
    std::memcpy(job.slot, &record, sizeof record);
    if ((record.flags & toolchain::kStageFlagHashPresent) != 0) {
        toolchain::Hash128 hash;
        std::memcpy(hash.data(), record.hash, hash.size());
        debugInfoStages.push_back(
            {job.stageName, std::string_view(out.path), std::string_view(job.source, job.length),
             record.binaryFormat == toolchain::kBinarySpirv ? "spirv" : "validated",
             out.binary.size(), hash});
    }
    if (cached.hasDump) {
        out.dump = std::move(cached.dump);
        *job.dumpField = out.dump.c_str();
    }
    if (cached.hasStats && job.stats != nullptr) {
        *job.stats = cached.stats;
    }
}

// What an entry is checked against.
struct EntryCheck {
    const CompileRequest& request;
    uint32_t gpuVersion;
    std::vector<StageJob>& jobs;
    CacheLookup& lookup;
};

// Decodes `bytes` (from the folder or a remote storage alike) and checks the
// entry against this compile; `log` gets its log for this run's files.
bool entryUsable(std::string_view bytes, const EntryCheck& check, CacheEntry& entry,
                 std::string& log) {
    return decodeCacheEntry(bytes, entry) && entry.key == check.lookup.key &&
           entryFitsJobs(entry, check.request, check.gpuVersion, check.jobs) &&
           localLogOf(entry.log, check.lookup.settings.baseFolder, log);
}

void useEntry(CacheEntry& entry, const std::string& log, std::vector<StageJob>& jobs,
              ProgramStorage& storage, Diagnostics& diagnostics,
              std::vector<DebugInfoStage>& debugInfoStages) {
    for (size_t i = 0; i < jobs.size(); ++i) {
        fillStage(entry.stages[i], jobs[i], storage.stages[jobs[i].storageIndex], debugInfoStages);
    }
    diagnostics.appendWarningLog(log);
}

// After a local miss: the remote storages, when any are named. A remote
// hit is kept in the local folder too, when the program is released.
bool takeFromRemote(const EntryCheck& check, ProgramStorage& storage, Diagnostics& diagnostics,
                    std::vector<DebugInfoStage>& debugInfoStages) {
    CacheLookup& lookup = check.lookup;
    lookup.remote = remoteCacheNamed();
    if (!lookup.remote) {
        return false;
    }
    CacheEntry entry;
    std::string log;
    std::string accepted;
    auto accept = [&](std::string_view bytes) {
        if (!entryUsable(bytes, check, entry, log)) {
            return false;
        }
        accepted = bytes;
        return true;
    };
    if (!takeFromRemoteCaches(lookup.settings, lookup.folder, toolchain::hexOf(lookup.key),
                              accept)) {
        return false;
    }
    useEntry(entry, log, check.jobs, storage, diagnostics, debugInfoStages);
    const uint64_t maxSize = lookup.settings.maxSize;
    if (maxSize != 0 && accepted.size() <= std::min(maxSize, kCacheEntryMaxBytes)) {
        PendingCacheStore& store = storage.pendingStore;
        store.pending = true;
        store.local = true;
        store.remote = false;
        store.settings = lookup.settings;
        store.folder = std::move(lookup.folder);
        store.entryName = lookup.entryName;
        store.bytes = std::move(accepted);
    }
    return true;
}

// Opens the folder for this compile; false (with a line when there is
// something to say) when the cache is off for it.
bool openFolderFor(CacheLookup& lookup) {
    const CacheSettings& settings = lookup.settings;
    if (settings.baseFolderInvalid) {
        cacheWarning("VRXCOMPILE_CACHE_BASEDIR '" + settings.baseFolderText +
                     "' is not an absolute path; it is ignored");
    }
    if (settings.maxSizeInvalid) {
        cacheWarning("VRXCOMPILE_CACHE_MAX_SIZE '" + settings.maxSizeText +
                     "' is not a size (bytes, or a number with K, M or G); the default 1G is used");
    }
    std::string reason;
    switch (openCacheFolder(settings, lookup.folder, reason)) {
        case CacheFolderState::ready:
            return true;
        case CacheFolderState::refused:
            cacheWarning(reason);
            return false;
        case CacheFolderState::off:
            cacheDebugLine(settings, "off:", reason);
            return false;
    }
    return false;
}

}  // namespace

std::string includeLineMapKeyBytes(const std::vector<StageJob>& jobs,
                                   const std::string& baseFolder) {
    std::string bytes;
    for (const StageJob& job : jobs) {
        std::string map;
        if (baseFolder.empty()) {
            map = serializeLineMap(job.lineMap);
        } else {
            LineMap relative = job.lineMap;
            for (std::string& file : relative.files) {
                file = keyPathOf(file, baseFolder);
            }
            map = serializeLineMap(relative);
        }
        toolchain::appendLittleEndian(bytes, map.size(), 8);
        bytes += map;
    }
    return bytes;
}

bool takeFromCache(const CompileRequest& request, uint32_t gpuVersion, std::vector<StageJob>& jobs,
                   ProgramStorage& storage, Diagnostics& diagnostics,
                   std::vector<DebugInfoStage>& debugInfoStages, CacheLookup& lookup) {
    lookup.settings = cacheSettingsFromEnvironment();
    if (!lookup.settings.enabled || !openFolderFor(lookup)) {
        return false;
    }
    lookup.usable = true;
    lookup.key = compileCacheKey(request, gpuVersion,
                                 includeLineMapKeyBytes(jobs, lookup.settings.baseFolder),
                                 lookup.settings.baseFolder);
    lookup.entryName = toolchain::hexOf(lookup.key) + kCacheEntrySuffix;
    const std::string where = cachePath(lookup.settings.folder, lookup.entryName);
    std::string bytes;
    std::string error;
    // No entry we stored exceeds the limit; a limit of 0 only stops stores.
    const uint64_t maxSize = lookup.settings.maxSize;
    const uint64_t bound =
        maxSize == 0 ? kCacheEntryMaxBytes : std::min(maxSize, kCacheEntryMaxBytes);
    EntryCheck check{request, gpuVersion, jobs, lookup};
    CacheEntry entry;
    std::string log;
    switch (safe_files::readOwnFile(lookup.folder, lookup.entryName, bound, bytes, error)) {
        case safe_files::ReadResult::read:
            if (entryUsable(bytes, check, entry, log)) {
                useEntry(entry, log, jobs, storage, diagnostics, debugInfoStages);
                safe_files::touchInFolder(lookup.folder, lookup.entryName);
                cacheDebugLine(lookup.settings, "hit", where);
                return true;
            }
            cacheDebugLine(lookup.settings, "ignored damaged entry", where);
            break;
        case safe_files::ReadResult::missing:
            cacheDebugLine(lookup.settings, "miss", where);
            break;
        default:
            cacheDebugLine(lookup.settings, "ignored unusable entry", where + ": " + error);
            break;
    }
    return takeFromRemote(check, storage, diagnostics, debugInfoStages);
}

CacheEntry entryOfCompile(const CacheKey& key, std::string log, const CompileRequest& request,
                          const std::vector<StageJob>& jobs, const ProgramStorage& storage) {
    CacheEntry entry;
    entry.key = key;
    entry.log = std::move(log);
    for (const StageJob& job : jobs) {
        const StageStorage& out = storage.stages[job.storageIndex];
        CachedStage& stage = entry.stages.emplace_back();
        stage.slot = static_cast<uint32_t>(job.storageIndex);
        std::memcpy(&stage.record, job.slot, sizeof stage.record);
        stage.binary = out.binary;
        stage.reflection = out.reflection;
        stage.hasDump = *job.dumpField != nullptr;
        stage.dump = out.dump;
        stage.hasStats =
            job.stats != nullptr && (request.compileFlags & kCompileFlagInstructionStats) != 0;
        if (stage.hasStats) {
            stage.stats = *job.stats;
        }
    }
    return entry;
}

bool takeFromEntry(std::string_view bytes, const CacheKey& key, const CompileRequest& request,
                   uint32_t gpuVersion, std::vector<StageJob>& jobs, ProgramStorage& storage,
                   Diagnostics& diagnostics, std::vector<DebugInfoStage>& debugInfoStages) {
    CacheEntry entry;
    if (!decodeCacheEntry(bytes, entry) || entry.key != key ||
        !entryFitsJobs(entry, request, gpuVersion, jobs)) {
        return false;
    }
    useEntry(entry, entry.log, jobs, storage, diagnostics, debugInfoStages);
    return true;
}

void prepareCacheStore(CacheLookup& lookup, const CompileRequest& request,
                       const std::vector<StageJob>& jobs, ProgramStorage& storage,
                       const Diagnostics& diagnostics) {
    const bool local = lookup.settings.maxSize != 0;
    if (!lookup.usable || diagnostics.hasErrors() || (!local && !lookup.remote)) {
        return;
    }
    const CacheEntry entry =
        entryOfCompile(lookup.key, storedLogOf(diagnostics.text(), lookup.settings.baseFolder),
                       request, jobs, storage);
    PendingCacheStore& store = storage.pendingStore;
    store.bytes = encodeCacheEntry(entry);
    // An entry larger than what a lookup accepts would never be read back.
    store.local =
        local && store.bytes.size() <= std::min(lookup.settings.maxSize, kCacheEntryMaxBytes);
    store.remote = lookup.remote && store.bytes.size() <= kCacheEntryMaxBytes;
    if (!store.local && !store.remote) {
        store.bytes.clear();
        return;
    }
    store.pending = true;
    store.settings = lookup.settings;
    store.folder = std::move(lookup.folder);
    store.entryName = lookup.entryName;
}

void completeCacheStore(PendingCacheStore& store) {
    if (store.pending && store.local) {
        storeInCacheFolder(store);
    }
    if (store.pending && store.remote) {
        const std::string_view name = store.entryName;
        storeInRemoteCaches(
            store.settings, store.folder,
            std::string(name.substr(0, name.size() - std::string_view(kCacheEntrySuffix).size())),
            store.bytes);
    }
    store = PendingCacheStore();
}

}  // namespace mendrix
