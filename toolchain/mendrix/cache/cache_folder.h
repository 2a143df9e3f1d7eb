// The compile cache's folder: which files in it are the cache's, and
// opening it for one compile. A folder is used only when it is the user's
// own, nobody else may write into it, and it is marked as a cache by a
// CACHEDIR.TAG file (which backup tools also honour). A folder without the
// tag is adopted (the tag is written) when it is empty or holds nothing but
// this library's files, as every cache of an earlier release does; any
// other folder is refused, so the cache never takes over a folder of the
// user's.
#pragma once

#include <string>
#include <string_view>

#include "platform/folder_handle.h"
#include "toolchain/mendrix/cache/cache_settings.h"

namespace mendrix {

// Entry files are named by the key's 32 hex digits and this suffix.
constexpr const char* kCacheEntrySuffix = ".vrxc";
// The entries' total disk use, in decimal.
constexpr const char* kCacheCounterName = "vrxcompile-cache-size";
// The counter of earlier releases: still recognised as the cache's own.
constexpr const char* kEarlierCacheCounterName = "size";
constexpr const char* kCacheTagName = "CACHEDIR.TAG";
// Markers of remote storages that failed lately (remote/storage_health.h):
// this prefix and 16 hex digits.
constexpr const char* kRemoteDownMarkerPrefix = "vrxcompile-remote-down-";
// The line a cache folder tag starts with.
constexpr const char* kCacheTagSignature = "Signature: 8a477f597d28d172789f06886806bc55";

bool isCacheEntryName(std::string_view name);

enum class CacheFolderState {
    ready,    // open and ours
    off,      // cannot be used (no folder, a link, another user's): quietly off
    refused,  // others may write it, or it is not a cache: off with a warning
};

// Opens the folder `settings` name for this compile. `reason` says why it
// is not ready: a debug line for `off`, the warning's text for `refused`.
CacheFolderState openCacheFolder(const CacheSettings& settings, safe_files::FolderHandle& folder,
                                 std::string& reason);

}  // namespace mendrix
