#include "toolchain/mendrix/service/service_settings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/decimal.h"
#include "platform/local_socket.h"
#include "toolchain/common/hash128.h"
#include "toolchain/mendrix/cache/cache_entry.h"
#include "toolchain/mendrix/cache/cache_key.h"
#include "toolchain/mendrix/cache/cache_settings.h"

namespace mendrix {

namespace {

// Host names may hold anything a resolver allows; the socket name keeps
// letters, digits, '-' and '.', and at most 64 of them.
std::string hostPart() {
    std::string host = local_socket::hostName();
    std::string kept;
    for (char c : host.substr(0, 64)) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.';
        kept += plain ? c : '_';
    }
    return kept;
}

std::string socketFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        return cachePath(runtime, "vrxcompile");
    }
    std::string cache = cacheSettingsFromEnvironment().folder;
    while (cache.size() > 1 && cache.back() == '/') {
        cache.pop_back();
    }
    return cache.empty() || cache == "/" ? std::string() : cache + "-service";
}

}  // namespace

std::string serviceSocketName() {
    static const std::string name = [] {
        const std::string identity = toolchain::hexOf(cacheEntryChecksum(libraryBuildIdentity()));
        return "mendrix-" + identity.substr(0, 16) + "-" + hostPart() + ".sock";
    }();
    return name;
}

ServiceSettings serviceSettingsFromEnvironment() {
    ServiceSettings settings;
    const char* on = std::getenv("VRXCOMPILE_SERVICE");
    settings.enabled = on != nullptr && std::strcmp(on, "1") == 0;
    const char* debug = std::getenv("VRXCOMPILE_SERVICE_DEBUG");
    settings.debug = debug != nullptr && std::strcmp(debug, "1") == 0;
    const char* idle = std::getenv("VRXCOMPILE_SERVICE_IDLE");
    uint64_t seconds = 0;
    const char* end = idle != nullptr ? parseDecimalDigits(idle, seconds) : nullptr;
    if (end != nullptr && *end == '\0' && seconds > 0 && seconds <= 86400 * 365) {
        settings.idleSeconds = static_cast<int64_t>(seconds);
    }
    if (!settings.enabled) {
        return settings;
    }
    settings.folder = socketFolder();
    if (!settings.folder.empty()) {
        settings.socketPath = cachePath(settings.folder, serviceSocketName());
        settings.lockPath = settings.socketPath + ".lock";
    }
    return settings;
}

void serviceDebugLine(const ServiceSettings& settings, const std::string& text) {
    if (settings.debug) {
        std::fprintf(stderr, "vrxcompile service: %s\n", text.c_str());
    }
}

}  // namespace mendrix
