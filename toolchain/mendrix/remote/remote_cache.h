// The compile cache's remote storages (remote_settings.h), used beside the
// local folder: a lookup that misses locally asks them in order, and a
// compiled entry is stored in every one that is not read-only. The client
// libraries are loaded on first use, so a run without
// VRXCOMPILE_REMOTE_CACHE loads neither. A storage that fails (unreachable,
// too slow, garbage, a wrong password) costs at most its deadlines and is
// then skipped for 60 s by every compile that uses the same local folder: a
// marker file there remembers it. Nothing here fails a compile.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/folder_handle.h"
#include "toolchain/mendrix/cache/cache_settings.h"

namespace mendrix {

// True when VRXCOMPILE_REMOTE_CACHE names anything.
bool remoteCacheNamed();

// Asks the storages in order for the entry `keyHex` and hands each answer
// to `accept`, which decodes and checks it; true once it accepted one.
// Warnings about the settings go to standard error; with
// VRXCOMPILE_CACHE_DEBUG=1 one line per storage says what it answered.
bool takeFromRemoteCaches(const CacheSettings& settings, const safe_files::FolderHandle& folder,
                          const std::string& keyHex,
                          const std::function<bool(std::string_view)>& accept);

// Stores `bytes` under `keyHex` in every storage that is not read-only.
void storeInRemoteCaches(const CacheSettings& settings, const safe_files::FolderHandle& folder,
                         const std::string& keyHex, std::string_view bytes);

}  // namespace mendrix
