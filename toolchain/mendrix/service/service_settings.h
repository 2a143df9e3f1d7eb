// Whether and where the compile service runs, from the environment:
//   VRXCOMPILE_SERVICE=1          compile cache misses in the resident service
//                                 (started on first use); anything else, 0
//                                 included, or unset: in process
//   VRXCOMPILE_SERVICE_IDLE       seconds without a request before the service
//                                 exits (default 600)
//   VRXCOMPILE_SERVICE_DEBUG=1    one line per compile on standard error
// The socket's folder is $XDG_RUNTIME_DIR/vrxcompile, else the compile
// cache's folder with "-service" appended (beside it, never inside).
#pragma once

#include <cstdint>
#include <string>

namespace mendrix {

constexpr int64_t kDefaultServiceIdleSeconds = 600;

struct ServiceSettings {
    bool enabled = false;
    bool debug = false;
    int64_t idleSeconds = kDefaultServiceIdleSeconds;
    std::string folder;      // empty when no folder can be named
    std::string socketPath;  // folder / socket name
    std::string lockPath;    // beside the socket: held by the running service
};

// The socket's name: the library's build identity and the host name, so
// two builds (or two machines sharing a home folder) never share a service.
std::string serviceSocketName();

// Read on every compile, so a process (a test) may change them in between.
ServiceSettings serviceSettingsFromEnvironment();

// A line "vrxcompile service: " + text on standard error, with
// VRXCOMPILE_SERVICE_DEBUG=1 only.
void serviceDebugLine(const ServiceSettings& settings, const std::string& text);

}  // namespace mendrix
