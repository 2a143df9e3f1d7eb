// The compile cache's size bookkeeping. A counter file ("size", the total
// bytes of the entries in decimal) is updated under the platform lock after
// each store; only when it says the limit is passed is the folder scanned,
// and the least recently used entries (oldest modification time: a hit
// touches its entry) are removed until the total is at most 90% of the
// limit. The scan also sets the counter to the true total, so counters that
// drifted (entries removed by hand, two processes storing the same entry)
// come right again. Best effort: every failure is silent.
#pragma once

#include <cstdint>
#include <string>

namespace mendrix {

// Entry files are named by the key's hex digits and this suffix.
constexpr const char* kCacheEntrySuffix = ".vrxc";
constexpr const char* kCacheSizeFileName = "size";

// Accounts for an entry of `addedBytes` just written over one of
// `replacedBytes` (0 when there was none) and evicts when over `maxSize`.
void recordStoredEntry(const std::string& folder, uint64_t addedBytes, uint64_t replacedBytes,
                       uint64_t maxSize);

// Makes the entry at `path` the most recently used.
void touchEntry(const std::string& path);

}  // namespace mendrix
