// Where the compile cache lives and how large it may grow, from the
// environment:
//   VRXCOMPILE_CACHE=0            off: nothing read, nothing written
//   VRXCOMPILE_CACHE_DIR          the folder; else ${XDG_CACHE_HOME:-$HOME/.cache}/
//                                 vrxcompile (POSIX) or %LOCALAPPDATA%\vrxcompile
//   VRXCOMPILE_CACHE_MAX_SIZE     disk space, bytes or with K, M or G (1024-based);
//                                 default 1G; 0 stores nothing; an unreadable
//                                 value keeps the default (and is warned about)
//   VRXCOMPILE_CACHE_BASEDIR      an absolute folder: paths under it enter the
//                                 key relative to it (cache_base_folder.h)
//   VRXCOMPILE_CACHE_DEBUG=1      one line per compile on standard error
// The remote storages have settings of their own (remote/remote_settings.h).
#pragma once

#include <cstdint>
#include <string>

namespace mendrix {

constexpr uint64_t kDefaultCacheMaxSize = uint64_t{1} << 30;

struct CacheSettings {
    bool enabled = false;  // false also when no folder can be named
    std::string folder;
    bool folderNamed = false;  // by VRXCOMPILE_CACHE_DIR, not the default place
    uint64_t maxSize = kDefaultCacheMaxSize;
    bool maxSizeInvalid = false;  // VRXCOMPILE_CACHE_MAX_SIZE set but not a size
    std::string maxSizeText;      // its value, for the warning
    std::string baseFolder;       // empty when not set or not absolute
    bool baseFolderInvalid = false;
    std::string baseFolderText;  // the value that is not absolute, for the warning
    bool debug = false;
};

// Read on every compile, so a process (a test) may change them in between.
CacheSettings cacheSettingsFromEnvironment();

// "1024", "64K", "512M", "1G" (suffix in either case). False for anything
// else, an empty text or a value that does not fit 64 bits.
bool parseCacheSize(const char* text, uint64_t& bytes);

// Lines on standard error, each "vrxcompile cache: " and the text: a
// debug line only with VRXCOMPILE_CACHE_DEBUG=1, a warning always.
void cacheDebugLine(const CacheSettings& settings, const char* what, const std::string& detail);
void cacheWarning(const std::string& text);

// `folder` and `name` joined with the platform's separator.
std::string cachePath(const std::string& folder, const std::string& name);

}  // namespace mendrix
