// Which remote storages failed lately: one marker file per storage in the
// local cache folder, named after a hash of the storage's shown URL and
// holding the time of the failure (seconds since 1970, decimal).
#pragma once

#include <cstdint>

#include "platform/folder_handle.h"
#include "toolchain/mendrix/remote/remote_settings.h"

namespace mendrix::remote {

// How long a failed storage is left alone.
constexpr int64_t kStorageDownSeconds = 60;

bool storageMarkedDown(const safe_files::FolderHandle& folder, const StorageAddress& address);
void markStorageDown(const safe_files::FolderHandle& folder, const StorageAddress& address);

}  // namespace mendrix::remote
