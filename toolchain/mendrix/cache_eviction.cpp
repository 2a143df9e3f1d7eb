#include "toolchain/mendrix/cache_eviction.h"

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/file_system.h"
#include "platform/safe_files.h"
#include "toolchain/mendrix/cache_settings.h"

namespace mendrix {

namespace {

namespace fs = std::filesystem;

constexpr int64_t kLockTimeoutMilliseconds = 2000;

struct EntryFile {
    fs::path path;
    uint64_t size = 0;
    int64_t used = 0;  // modification time: the last store or hit
};

bool isEntryName(std::string_view name) {
    std::string_view suffix = kCacheEntrySuffix;
    return name.size() == 32 + suffix.size() && name.substr(32) == suffix &&
           name.find_first_not_of("0123456789abcdef") == 32;
}

// False when the counter is missing or unreadable: the caller scans.
bool readCounter(const std::string& path, uint64_t& total) {
    std::string text;
    std::string error;
    if (!safe_files::readWholeFile(path, text, error) || text.empty() || text.size() > 20) {
        return false;
    }
    total = 0;
    for (char digit : text) {
        if (digit < '0' || digit > '9') {
            return false;
        }
        total = total * 10 + static_cast<uint64_t>(digit - '0');
    }
    return true;
}

void writeCounter(const std::string& path, uint64_t total) {
    std::string text = std::to_string(total);
    std::string error;
    safe_files::writeFileAtomically(path, text.data(), text.size(),
                                    safe_files::FileMode::privateUnflushed, error);
}

// Lists the entries and removes the least recently used until `target`
// bytes or fewer remain (no limit when `target` is the total). Returns the
// bytes that remain.
uint64_t scanAndEvict(const std::string& folder, uint64_t target) {
    std::vector<EntryFile> entries;
    uint64_t total = 0;
    std::error_code error;
    fs::directory_iterator it(fs::path(folder), error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        std::error_code entryError;
        if (!isEntryName(it->path().filename().string()) || !it->is_regular_file(entryError)) {
            continue;
        }
        EntryFile entry{it->path(), it->file_size(entryError),
                        modificationTimeOf(it->path().string().c_str())};
        if (!entryError) {
            total += entry.size;
            entries.push_back(std::move(entry));
        }
    }
    std::sort(entries.begin(), entries.end(),
              [](const EntryFile& a, const EntryFile& b) { return a.used < b.used; });
    for (const EntryFile& entry : entries) {
        if (total <= target) {
            break;
        }
        std::error_code removeError;
        if (fs::remove(entry.path, removeError)) {
            total -= entry.size;
        }
    }
    safe_files::removeAbandonedTemporaryFiles(folder);
    return total;
}

}  // namespace

void recordStoredEntry(const std::string& folder, uint64_t addedBytes, uint64_t replacedBytes,
                       uint64_t maxSize) {
    std::string counterPath = cachePath(folder, kCacheSizeFileName);
    safe_files::PathLock lock{-1, false};
    std::string error;
    safe_files::LockResult locked =
        safe_files::lockPath(counterPath, kLockTimeoutMilliseconds, lock, error);
    if (locked != safe_files::LockResult::acquired &&
        locked != safe_files::LockResult::unsupported) {
        return;  // the next store's scan sets the counter right
    }
    uint64_t total = 0;
    if (readCounter(counterPath, total)) {
        total = total + addedBytes - std::min(total + addedBytes, replacedBytes);
    } else {
        total = scanAndEvict(folder, UINT64_MAX);
    }
    if (total > maxSize) {
        total = scanAndEvict(folder, maxSize / 10 * 9 + maxSize % 10 * 9 / 10);
    }
    writeCounter(counterPath, total);
    safe_files::unlockPath(lock);
}

void touchEntry(const std::string& path) {
    touchFile(path.c_str());
}

}  // namespace mendrix
