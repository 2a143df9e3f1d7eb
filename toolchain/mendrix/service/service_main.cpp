// mendrix-service: the resident compile service of libmendrix. Started by
// the library (service_client.cpp), detached, as
//   mendrix-service <socket path>
// It keeps the front end warm and forks one child per request, so a crash
// inside the front end ends that request only. It exits after
// VRXCOMPILE_SERVICE_IDLE seconds (default 600) without a request, and
// within a few seconds once its socket (or the socket's folder) is removed
// or replaced. Only clients of its own user are served.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/local_socket.h"
#include "platform/service_process.h"
#include "platform/tcp_connection.h"
#include "toolchain/mendrix/compiler.h"
#include "toolchain/mendrix/service/service_compile.h"
#include "toolchain/mendrix/service/service_limits.h"
#include "toolchain/mendrix/service/service_request.h"
#include "toolchain/mendrix/service/service_settings.h"
#include "toolchain/mendrix/service/service_transport.h"
#include "toolchain/mendrix/service/service_warm.h"

namespace mendrix {
namespace {

// How often the socket's identity is compared with the one bound.
constexpr int64_t kSocketCheckMilliseconds = 2000;

struct ServiceState {
    std::string socketPath;
    tcp::Connection listener;
    uint64_t device = 0;
    uint64_t inode = 0;
    unsigned capacity = 1;
    int64_t idleMilliseconds = 0;
    int64_t lastRequest = 0;
    int64_t lastSocketCheck = 0;
    std::vector<service_process::Child> children;
    std::vector<std::string> shapesToWarm;
    std::vector<std::string> shapesWarmed;
};

// One request, in the forked child.
int serveRequest(tcp::Connection& peer, std::string& notice) {
    const int64_t start = tcp::nowMilliseconds();
    std::string message;
    std::string answer;
    if (!sendServiceBytes(peer, std::string(1, kServiceStartedByte),
                          start + kServiceIoMilliseconds) ||
        !receiveServiceMessage(peer, kServiceRequestMagic, start + kServiceIoMilliseconds,
                               message)) {
        return 1;
    }
    // The client gives up at its deadline; the child ends a little later.
    service_process::limitRunTime(
        static_cast<unsigned>(serviceAnswerMilliseconds(message.size()) / 1000 + 5));
    if (!answerServiceRequest(message, answer, notice)) {
        return 1;
    }
    return sendServiceBytes(peer, answer, tcp::nowMilliseconds() + kServiceIoMilliseconds) ? 0 : 1;
}

// The socket still stands where it was bound: removing or replacing it (or
// its folder) ends the service.
bool socketStillOurs(ServiceState& state, int64_t now) {
    if (now - state.lastSocketCheck < kSocketCheckMilliseconds) {
        return true;
    }
    state.lastSocketCheck = now;
    uint64_t device = 0;
    uint64_t inode = 0;
    return local_socket::socketFileIdentity(state.socketPath, device, inode) &&
           device == state.device && inode == state.inode;
}

void acceptRequests(ServiceState& state) {
    while (state.children.size() < state.capacity) {
        tcp::Connection peer;
        bool sameUser = false;
        if (!local_socket::acceptWaiting(state.listener, peer, sameUser)) {
            return;
        }
        if (!sameUser) {
            continue;  // closed unanswered: the client compiles in process
        }
        state.lastRequest = tcp::nowMilliseconds();
        service_process::Child child;
        auto body = [&](std::string& notice) {
            state.listener.close();
            return serveRequest(peer, notice);
        };
        if (service_process::startChild(body, child)) {
            state.children.push_back(child);
        }
    }
}

void learnShapes(ServiceState& state, std::vector<std::string>& notices) {
    for (std::string& shape : notices) {
        bool known = false;
        for (const std::string& warmed : state.shapesWarmed) {
            known = known || warmed == shape;
        }
        for (const std::string& waiting : state.shapesToWarm) {
            known = known || waiting == shape;
        }
        if (!known && state.shapesWarmed.size() < 64) {
            state.shapesToWarm.push_back(std::move(shape));
        }
    }
    notices.clear();
}

int runService(ServiceState& state) {
    std::vector<std::string> notices;
    for (;;) {
        const int64_t now = tcp::nowMilliseconds();
        service_process::reapEnded(state.children, notices);
        learnShapes(state, notices);
        if (!socketStillOurs(state, now)) {
            return 0;
        }
        if (state.children.empty() && now - state.lastRequest >= state.idleMilliseconds) {
            return 0;
        }
        const bool room = state.children.size() < state.capacity;
        // Warming waits while requests are queued; one shape at a time.
        const bool warmNext = !state.shapesToWarm.empty() && state.children.empty();
        service_process::waitForWork(room ? state.listener.descriptor : -1, state.children,
                                     warmNext ? 0 : static_cast<int>(kSocketCheckMilliseconds));
        if (room) {
            acceptRequests(state);
        }
        if (warmNext && state.children.empty()) {  // none started meanwhile
            std::string shape = std::move(state.shapesToWarm.front());
            state.shapesToWarm.erase(state.shapesToWarm.begin());
            warmProgramShape(shape);
            state.shapesWarmed.push_back(std::move(shape));
        }
    }
}

}  // namespace
}  // namespace mendrix

int main(int argc, char** argv) {
    using namespace mendrix;
    if (argc != 2 || argv[1][0] != '/') {
        return 2;
    }
    service_process::ignoreBrokenPipes();
    ServiceState state;
    state.socketPath = argv[1];
    // The lock makes this the only service at the socket; a second one
    // started in the same moment leaves at once.
    if (!service_process::holdLockForLife(state.socketPath + ".lock")) {
        return 0;
    }
    std::string error;
    if (!local_socket::listenAt(state.socketPath, state.listener, error) ||
        !local_socket::socketFileIdentity(state.socketPath, state.device, state.inode) ||
        !initializeFrontEnd()) {
        return 1;
    }
    state.capacity = service_process::processorCount();
    state.idleMilliseconds = serviceSettingsFromEnvironment().idleSeconds * 1000;
    state.lastRequest = tcp::nowMilliseconds();
    state.lastSocketCheck = state.lastRequest;
    state.shapesToWarm = commonProgramShapes();
    return runService(state);
}
