#include "toolchain/mendrix/service/service_client.h"

#include <string>

#include "platform/folder_handle.h"
#include "platform/local_socket.h"
#include "platform/service_process.h"
#include "platform/tcp_connection.h"
#include "toolchain/mendrix/service/service_limits.h"
#include "toolchain/mendrix/service/service_request.h"
#include "toolchain/mendrix/service/service_settings.h"
#include "toolchain/mendrix/service/service_transport.h"

namespace mendrix {

namespace {

constexpr const char* kServiceExecutableName = "mendrix-service";

// The service forks a child per request, and copying the page tables of
// its warm heap was most of a request's cost. With the allocator's heap in
// huge pages (where the system allows them) there are a few hundred
// entries to copy instead of ~12,000.
constexpr const char* kServiceAllocatorTunable = "GLIBC_TUNABLES=glibc.malloc.hugetlb=1";

// The service executable beside this library (lib/vrxcompile/ when
// installed, bin/ in a build).
std::string serviceExecutable() {
    const std::string library =
        service_process::pathOfLoadedCode(reinterpret_cast<const void*>(&compileThroughService));
    const size_t slash = library.rfind('/');
    return slash == std::string::npos ? std::string()
                                      : library.substr(0, slash + 1) + kServiceExecutableName;
}

// The folder the socket lives in, made or checked: the user's alone.
bool folderIsPrivate(const ServiceSettings& settings, std::string& reason) {
    if (settings.folder.empty()) {
        reason = "no folder for its socket (neither XDG_RUNTIME_DIR nor a cache folder)";
        return false;
    }
    if (settings.socketPath.size() > local_socket::kMaxListenPath) {
        reason = "socket path longer than a socket address holds: " + settings.socketPath;
        return false;
    }
    safe_files::FolderHandle folder;
    std::string error;
    if (safe_files::openPrivateFolder(settings.folder, safe_files::FolderOrigin::named, folder,
                                      error) != safe_files::FolderResult::ready) {
        reason = "socket folder refused: " + error;
        return false;
    }
    return true;
}

// Nobody listens: starts the service for the next compiles. This one is
// compiled in process rather than waiting for the service to come up.
std::string startService(const ServiceSettings& settings) {
    const std::string executable = serviceExecutable();
    std::string error;
    if (executable.empty() || !service_process::startDetached(executable, {settings.socketPath},
                                                              {kServiceAllocatorTunable}, error)) {
        return "could not start " + executable + (error.empty() ? "" : ": " + error);
    }
    return "started " + executable + " at " + settings.socketPath;
}

// Waits for a worker to take the request up, sends it and waits for its
// answer; false when the service did not take it up in time, broke off or
// missed its deadline.
bool exchange(tcp::Connection& connection, const std::string& request, std::string& answer,
              std::string& reason) {
    if (!receiveStartedByte(connection, tcp::nowMilliseconds() + kServiceQueueMilliseconds)) {
        reason = "the request was not taken up in time (or the peer was refused)";
        return false;
    }
    if (!sendServiceBytes(connection, request, tcp::nowMilliseconds() + kServiceIoMilliseconds)) {
        reason = "the request could not be sent";
        return false;
    }
    const int64_t answerTime = serviceAnswerMilliseconds(request.size());
    if (!receiveServiceMessage(connection, kServiceAnswerMagic, tcp::nowMilliseconds() + answerTime,
                               answer)) {
        reason = "no complete answer within the deadline";
        return false;
    }
    return true;
}

}  // namespace

ServiceOutcome compileThroughService(const CompileRequest& request, uint32_t gpuVersion,
                                     const std::vector<StageJob>& jobs,
                                     const TakeServiceEntry& takeEntry, std::string& failedLog) {
    const ServiceSettings settings = serviceSettingsFromEnvironment();
    if (!settings.enabled) {
        return ServiceOutcome::unavailable;
    }
    std::string reason;
    auto inProcess = [&settings](const std::string& why) {
        serviceDebugLine(settings, "compiled in process: " + why);
        return ServiceOutcome::unavailable;
    };
    if (!folderIsPrivate(settings, reason)) {
        return inProcess(reason);
    }
    tcp::Connection connection;
    std::string error;
    switch (local_socket::connectTo(settings.socketPath, connection, error)) {
        case tcp::Outcome::done:
            break;
        case tcp::Outcome::timedOut:
            return inProcess("the service's queue is full");
        case tcp::Outcome::failed:
            return inProcess(startService(settings));
    }
    const std::string message = encodeServiceRequest(request, gpuVersion, jobs);
    std::string answer;
    if (!exchange(connection, message, answer, reason)) {
        return inProcess(reason);
    }
    ServiceAnswerKind kind = ServiceAnswerKind::failed;
    std::string_view bytes;
    if (!decodeServiceAnswer(answer, kind, bytes)) {
        return inProcess("the answer is not one");
    }
    if (kind == ServiceAnswerKind::failed) {
        failedLog.assign(bytes);
        serviceDebugLine(settings, "compiled by the service (failed) at " + settings.socketPath);
        return ServiceOutcome::failed;
    }
    if (!takeEntry(bytes, serviceAnswerKey(message))) {
        return inProcess("the answer does not fit the request");
    }
    serviceDebugLine(settings, "compiled by the service at " + settings.socketPath);
    return ServiceOutcome::compiled;
}

}  // namespace mendrix
