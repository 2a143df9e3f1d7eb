#include "toolchain/mendrix/compile_cache.h"

#include <cstdio>
#include <cstring>

#include "platform/safe_files.h"
#include "toolchain/mendrix/cache_entry.h"
#include "toolchain/mendrix/cache_eviction.h"

namespace mendrix {

namespace {

void debugLine(const CacheLookup& lookup, const char* what, const std::string& detail) {
    if (lookup.settings.debug) {
        std::fprintf(stderr, "vrxcompile cache: %s %s\n", what, detail.c_str());
    }
}

// The entry must describe the same jobs, or it is not used.
bool entryFitsJobs(const CacheEntry& entry, const std::vector<StageJob>& jobs) {
    if (entry.stages.size() != jobs.size()) {
        return false;
    }
    for (size_t i = 0; i < jobs.size(); ++i) {
        if (entry.stages[i].slot != jobs[i].storageIndex) {
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
    toolchain::ToolchainStageRecord record = cached.record;
    record.binary = out.binary.data();
    record.reflection = out.reflection.data();
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

}  // namespace

bool takeFromCache(const CompileRequest& request, uint32_t gpuVersion, std::vector<StageJob>& jobs,
                   ProgramStorage& storage, Diagnostics& diagnostics,
                   std::vector<QuarnStage>& quarnStages, CacheLookup& lookup) {
    lookup.settings = cacheSettingsFromEnvironment();
    if (!lookup.settings.enabled) {
        return false;
    }
    std::string error;
    // A folder that is a link or another user's could hand us their entries.
    if (safe_files::ensurePrivateFolder(lookup.settings.folder, error) !=
        safe_files::FolderResult::ready) {
        debugLine(lookup, "off:", lookup.settings.folder + ": " + error);
        return false;
    }
    lookup.usable = true;
    lookup.compileFlags = request.compileFlags;
    lookup.key = compileCacheKey(request, gpuVersion, jobs);
    lookup.entryPath = cachePath(lookup.settings.folder, hexOfKey(lookup.key) + kCacheEntrySuffix);
    std::string bytes;
    if (!safe_files::readWholeFile(lookup.entryPath, bytes, error)) {
        debugLine(lookup, "miss", lookup.entryPath);
        return false;
    }
    CacheEntry entry;
    if (!decodeCacheEntry(bytes, entry) || entry.key != lookup.key || !entryFitsJobs(entry, jobs)) {
        lookup.replacedBytes = bytes.size();
        debugLine(lookup, "ignored damaged entry", lookup.entryPath);
        return false;
    }
    for (size_t i = 0; i < jobs.size(); ++i) {
        fillStage(entry.stages[i], jobs[i], storage.stages[jobs[i].storageIndex], quarnStages);
    }
    diagnostics.appendWarningLog(entry.log);
    touchEntry(lookup.entryPath);
    debugLine(lookup, "hit", lookup.entryPath);
    return true;
}

void storeInCache(CacheLookup& lookup, const std::vector<StageJob>& jobs,
                  const ProgramStorage& storage, const Diagnostics& diagnostics) {
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
            job.stats != nullptr && (lookup.compileFlags & kCompileFlagInstructionStats) != 0;
        if (stage.hasStats) {
            stage.stats = *job.stats;
        }
    }
    std::string bytes = encodeCacheEntry(entry);
    if (bytes.size() > lookup.settings.maxSize) {
        return;  // it would be evicted at once
    }
    std::string error;
    if (!safe_files::writeFileAtomically(lookup.entryPath, bytes.data(), bytes.size(),
                                         safe_files::FileMode::privateUnflushed, error)) {
        debugLine(lookup, "not stored:", lookup.entryPath + ": " + error);
        return;
    }
    recordStoredEntry(lookup.settings.folder, bytes.size(), lookup.replacedBytes,
                      lookup.settings.maxSize);
    debugLine(lookup, "stored", lookup.entryPath);
}

}  // namespace mendrix
