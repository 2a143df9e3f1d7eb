// Builds without remote storage (Windows, for now): the local cache alone.
#include "toolchain/mendrix/remote/remote_cache.h"

namespace mendrix {

bool remoteCacheNamed() {
    return false;
}

bool takeFromRemoteCaches(const CacheSettings&, const safe_files::FolderHandle&, const std::string&,
                          const std::function<bool(std::string_view)>&) {
    return false;
}

void storeInRemoteCaches(const CacheSettings&, const safe_files::FolderHandle&, const std::string&,
                         std::string_view) {}

}  // namespace mendrix
