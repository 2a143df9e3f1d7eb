// The compile cache's size bookkeeping. A counter file (kCacheCounterName,
// the disk use of the entries in decimal) is kept under the folder's lock:
// each store puts its entry in place and updates the counter while holding
// it, subtracting the entry it replaced, so parallel stores of one entry
// count it once. Only when the counter says the limit is passed is the
// folder scanned, and the least recently used entries (oldest modification
// time: a hit touches its entry) are removed until the total is at most 90%
// of the limit. The scan also sets the counter to the true total (entries
// removed by hand) and removes temporary files of killed processes.
#pragma once

#include <cstdint>
#include <string>

#include "platform/folder_handle.h"

namespace mendrix {

// Renames the written `temporary` file (taking `diskUse` bytes) over
// `entryName` and accounts for it, evicting when over `maxSize`. False,
// with the temporary file removed, when the lock cannot be had in time or
// the rename fails.
bool placeEntry(const safe_files::FolderHandle& folder, const std::string& temporary,
                const std::string& entryName, uint64_t diskUse, uint64_t maxSize,
                std::string& error);

}  // namespace mendrix
