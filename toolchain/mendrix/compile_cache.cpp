#include "toolchain/mendrix/compile_cache.h"

#include <algorithm>
#include <cstring>

#include "toolchain/mendrix/cache_entry.h"
#include "toolchain/mendrix/cache_folder.h"

namespace mendrix {

namespace {

// A stage of an entry is used only where it is what this job would hand
// out: same slot and kind, a form the stage can have, this handle's GPU
// version and the request's optimisation mask, a debug hash, dump and
// statistics exactly where the request asks for them.
bool stageFitsJob(const CachedStage& stage, const StageJob& job, const CompileRequest& request,
                  uint32_t gpuVersion) {
    const toolchain::ToolchainStageRecord& record = stage.record;
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
               std::vector<QuarnStage>& quarnStages) {
    out.binary = std::move(cached.binary);
    out.reflection = std::move(cached.reflection);
    if (job.requestPath != nullptr) {
        out.path = job.requestPath;
    }
    // Sizes are those of the bytes held, whatever the entry said.
    toolchain::ToolchainStageRecord record = cached.record;
    record.binary = out.binary.data();
    record.binarySize = out.binary.size();
    record.reflection = out.reflection.data();
    record.reflectionSize = out.reflection.size();
    record.sourcePath = job.requestPath != nullptr ? out.path.c_str() : nullptr;
    std::memcpy(job.slot, &record, sizeof record);
    if ((record.flags & toolchain::kStageFlagHashPresent) != 0) {
        Hash128 hash;
        std::memcpy(hash.data(), record.hash, hash.size());
        quarnStages.push_back(
            {job.stageName, std::string_view(out.path), std::string_view(job.text, job.length),
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

// Opens the folder for this compile; false (with a line when there is
// something to say) when the cache is off for it.
bool openFolderFor(CacheLookup& lookup) {
    const CacheSettings& settings = lookup.settings;
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

bool takeFromCache(const CompileRequest& request, uint32_t gpuVersion, std::vector<StageJob>& jobs,
                   ProgramStorage& storage, Diagnostics& diagnostics,
                   std::vector<QuarnStage>& quarnStages, CacheLookup& lookup) {
    lookup.settings = cacheSettingsFromEnvironment();
    if (!lookup.settings.enabled || !openFolderFor(lookup)) {
        return false;
    }
    lookup.usable = true;
    lookup.key = compileCacheKey(request, gpuVersion, jobs);
    lookup.entryName = hexOfKey(lookup.key) + kCacheEntrySuffix;
    const std::string where = cachePath(lookup.settings.folder, lookup.entryName);
    std::string bytes;
    std::string error;
    // No entry we stored exceeds the limit; a limit of 0 only stops stores.
    const uint64_t maxSize = lookup.settings.maxSize;
    const uint64_t bound =
        maxSize == 0 ? kCacheEntryMaxBytes : std::min(maxSize, kCacheEntryMaxBytes);
    switch (safe_files::readOwnFile(lookup.folder, lookup.entryName, bound, bytes, error)) {
        case safe_files::ReadResult::read:
            break;
        case safe_files::ReadResult::missing:
            cacheDebugLine(lookup.settings, "miss", where);
            return false;
        default:
            cacheDebugLine(lookup.settings, "ignored unusable entry", where + ": " + error);
            return false;
    }
    CacheEntry entry;
    if (!decodeCacheEntry(bytes, entry) || entry.key != lookup.key ||
        !entryFitsJobs(entry, request, gpuVersion, jobs)) {
        cacheDebugLine(lookup.settings, "ignored damaged entry", where);
        return false;
    }
    for (size_t i = 0; i < jobs.size(); ++i) {
        fillStage(entry.stages[i], jobs[i], storage.stages[jobs[i].storageIndex], quarnStages);
    }
    diagnostics.appendWarningLog(entry.log);
    safe_files::touchInFolder(lookup.folder, lookup.entryName);
    cacheDebugLine(lookup.settings, "hit", where);
    return true;
}

void prepareCacheStore(CacheLookup& lookup, const CompileRequest& request,
                       const std::vector<StageJob>& jobs, ProgramStorage& storage,
                       const Diagnostics& diagnostics) {
    if (!lookup.usable || diagnostics.hasErrors() || lookup.settings.maxSize == 0) {
        return;
    }
    CacheEntry entry;
    entry.key = lookup.key;
    entry.log = diagnostics.text();
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
    PendingCacheStore& store = storage.pendingStore;
    store.bytes = encodeCacheEntry(entry);
    if (store.bytes.size() > std::min(lookup.settings.maxSize, kCacheEntryMaxBytes)) {
        store.bytes.clear();
        return;  // never read back: larger than what a lookup accepts
    }
    store.pending = true;
    store.settings = lookup.settings;
    store.folder = std::move(lookup.folder);
    store.entryName = lookup.entryName;
}

}  // namespace mendrix
