#include "toolchain/mendrix/cache/cache_eviction.h"

#include <algorithm>
#include <vector>

#include "platform/decimal.h"
#include "toolchain/mendrix/cache/cache_folder.h"

namespace mendrix {

namespace {

constexpr int64_t kLockTimeoutMilliseconds = 2000;
constexpr uint64_t kCounterDigits = 20;

struct EntryFile {
    std::string name;
    uint64_t diskUse = 0;
    int64_t used = 0;  // modification time: the last store or hit
};

// False when the counter is missing or unreadable: the caller scans.
bool readCounter(const safe_files::FolderHandle& folder, uint64_t& total) {
    std::string text;
    std::string error;
    if (safe_files::readOwnFile(folder, kCacheCounterName, kCounterDigits, text, error) !=
            safe_files::ReadResult::read ||
        text.empty()) {
        return false;
    }
    // Digits alone, and a number that fits: anything else is rescanned.
    const char* end = parseDecimalDigits(text.c_str(), total);
    return end == text.c_str() + text.size();
}

void writeCounter(const safe_files::FolderHandle& folder, uint64_t total) {
    const std::string text = std::to_string(total);
    std::string error;
    safe_files::writeFileInFolder(folder, kCacheCounterName, text.data(), text.size(),
                                  safe_files::FileMode::privateUnflushed, error);
}

// Lists the entries and removes the least recently used until `target`
// bytes or fewer remain (no limit when `target` is UINT64_MAX). Returns the
// disk use that remains. Only the user's own entry files count; nothing
// else is touched.
uint64_t scanAndEvict(const safe_files::FolderHandle& folder, uint64_t target) {
    std::vector<EntryFile> entries;
    uint64_t total = 0;
    for (const std::string& name : safe_files::namesInFolder(folder)) {
        safe_files::FolderFileFacts facts;
        if (isCacheEntryName(name) && safe_files::factsOf(folder, name, facts) &&
            safe_files::isOwnFile(facts)) {
            total += facts.diskUse;
            entries.push_back({name, facts.diskUse, facts.modified});
        }
    }
    std::sort(entries.begin(), entries.end(),
              [](const EntryFile& a, const EntryFile& b) { return a.used < b.used; });
    for (const EntryFile& entry : entries) {
        if (total <= target) {
            break;
        }
        safe_files::removeFromFolder(folder, entry.name);
        total -= entry.diskUse;
    }
    safe_files::removeAbandonedTemporaryFiles(folder);
    return total;
}

// Disk use of the entry a rename is about to replace; 0 when there is none
// the counter holds.
uint64_t replacedDiskUse(const safe_files::FolderHandle& folder, const std::string& entryName) {
    safe_files::FolderFileFacts facts;
    return safe_files::factsOf(folder, entryName, facts) && safe_files::isOwnFile(facts)
               ? facts.diskUse
               : 0;
}

}  // namespace

bool placeEntry(const safe_files::FolderHandle& folder, const std::string& temporary,
                const std::string& entryName, uint64_t diskUse, uint64_t maxSize,
                std::string& error) {
    safe_files::PathLock lock;
    const safe_files::LockResult locked =
        safe_files::lockFolder(folder, kLockTimeoutMilliseconds, lock, error);
    if (locked != safe_files::LockResult::acquired &&
        locked != safe_files::LockResult::unsupported) {
        safe_files::removeFromFolder(folder, temporary);
        if (locked == safe_files::LockResult::timedOut) {
            error = "the cache was locked by another process for too long";
        }
        return false;
    }
    const uint64_t replaced = replacedDiskUse(folder, entryName);
    if (!safe_files::renameInFolder(folder, temporary, entryName, error)) {
        return false;
    }
    uint64_t total = 0;
    if (readCounter(folder, total)) {
        total = total + diskUse - std::min(total + diskUse, replaced);
    } else {
        total = scanAndEvict(folder, UINT64_MAX);
    }
    if (total > maxSize) {
        total = scanAndEvict(folder, maxSize / 10 * 9 + maxSize % 10 * 9 / 10);
    }
    writeCounter(folder, total);
    return true;
}

}  // namespace mendrix
