#include "toolchain/mendrix/cache/cache_settings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/decimal.h"
#include "toolchain/mendrix/cache/cache_base_folder.h"

namespace mendrix {

namespace {

bool isSet(const char* value) {
    return value != nullptr && value[0] != '\0';
}

std::string defaultCacheFolder() {
#ifdef _WIN32
    const char* base = std::getenv("LOCALAPPDATA");
    return isSet(base) ? cachePath(base, "vrxcompile") : std::string();
#else
    const char* base = std::getenv("XDG_CACHE_HOME");
    if (isSet(base)) {
        return cachePath(base, "vrxcompile");
    }
    const char* home = std::getenv("HOME");
    return isSet(home) ? cachePath(cachePath(home, ".cache"), "vrxcompile") : std::string();
#endif
}

}  // namespace

void cacheDebugLine(const CacheSettings& settings, const char* what, const std::string& detail) {
    if (settings.debug) {
        std::fprintf(stderr, "vrxcompile cache: %s %s\n", what, detail.c_str());
    }
}

void cacheWarning(const std::string& text) {
    std::fprintf(stderr, "vrxcompile cache: %s\n", text.c_str());
}

std::string cachePath(const std::string& folder, const std::string& name) {
#ifdef _WIN32
    constexpr char kSeparator = '\\';
    bool ends = !folder.empty() && (folder.back() == '\\' || folder.back() == '/');
#else
    constexpr char kSeparator = '/';
    bool ends = !folder.empty() && folder.back() == '/';
#endif
    return ends ? folder + name : folder + kSeparator + name;
}

bool parseCacheSize(const char* text, uint64_t& bytes) {
    uint64_t value = 0;
    const char* at = text != nullptr ? parseDecimalDigits(text, value) : nullptr;
    if (at == nullptr) {
        return false;
    }
    // Powers of 1024, in either case.
    static constexpr struct {
        char suffix;
        int shift;
    } kSuffixes[] = {{'k', 10}, {'K', 10}, {'m', 20}, {'M', 20}, {'g', 30}, {'G', 30}};
    int shift = 0;
    for (const auto& entry : kSuffixes) {
        if (*at == entry.suffix) {
            shift = entry.shift;
            ++at;
            break;
        }
    }
    if (*at != '\0' || (shift > 0 && value > (UINT64_MAX >> shift))) {
        return false;
    }
    bytes = value << shift;
    return true;
}

CacheSettings cacheSettingsFromEnvironment() {
    CacheSettings settings;
    const char* switchValue = std::getenv("VRXCOMPILE_CACHE");
    if (switchValue != nullptr && std::strcmp(switchValue, "0") == 0) {
        return settings;
    }
    const char* folder = std::getenv("VRXCOMPILE_CACHE_DIR");
    settings.folderNamed = isSet(folder);
    settings.folder = settings.folderNamed ? std::string(folder) : defaultCacheFolder();
    settings.enabled = !settings.folder.empty();
    const char* maxSizeText = std::getenv("VRXCOMPILE_CACHE_MAX_SIZE");
    uint64_t maxSize = 0;
    if (parseCacheSize(maxSizeText, maxSize)) {
        settings.maxSize = maxSize;
    } else if (isSet(maxSizeText)) {
        settings.maxSizeInvalid = true;
        settings.maxSizeText = maxSizeText;
    }
    const char* base = std::getenv("VRXCOMPILE_CACHE_BASEDIR");
    if (isSet(base) && !parseBaseFolder(base, settings.baseFolder)) {
        settings.baseFolderInvalid = true;
        settings.baseFolderText = base;
    }
    const char* debug = std::getenv("VRXCOMPILE_CACHE_DEBUG");
    settings.debug = debug != nullptr && std::strcmp(debug, "1") == 0;
    return settings;
}

}  // namespace mendrix
