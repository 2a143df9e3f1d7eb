#include "toolchain/common/user_cache_folder.h"

#include <cstdlib>

namespace toolchain {

namespace {

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

std::string userCacheFolder([[maybe_unused]] JoinPath join) {
#ifdef _WIN32
    return variable("LOCALAPPDATA");
#else
    const std::string base = variable("XDG_CACHE_HOME");
    if (!base.empty()) {
        return base;
    }
    const std::string home = variable("HOME");
    return home.empty() ? std::string() : join(home, ".cache");
#endif
}

}  // namespace toolchain
