#include "platform/local_socket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace local_socket {

namespace {

std::string systemError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

bool addressOf(const std::string& path, sockaddr_un& address, std::string& error) {
    if (path.size() > kMaxSocketPath || path.find('\0') != std::string::npos) {
        error = "socket path too long for a socket address";
        return false;
    }
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

int newSocket(std::string& error) {
    const int descriptor = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (descriptor < 0) {
        error = systemError("socket");
    }
    return descriptor;
}

}  // namespace

tcp::Outcome connectTo(const std::string& path, tcp::Connection& connection, std::string& error) {
    sockaddr_un address;
    if (!addressOf(path, address, error)) {
        return tcp::Outcome::failed;
    }
    tcp::Connection opened;
    opened.descriptor = newSocket(error);
    if (opened.descriptor < 0) {
        return tcp::Outcome::failed;
    }
    if (connect(opened.descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
        0) {
        // A local socket connects at once or not at all; EAGAIN means the
        // listener's queue is full.
        const bool full = errno == EAGAIN;
        error = systemError("connect");
        return full ? tcp::Outcome::timedOut : tcp::Outcome::failed;
    }
    connection = std::move(opened);
    return tcp::Outcome::done;
}

bool listenAt(const std::string& path, tcp::Connection& listener, std::string& error) {
    // Bound and listening under a name of its own first, then renamed over
    // `path` (replacing a stale socket): a client finds either no socket or
    // one that listens.
    const std::string fresh = path + kFreshSuffix;
    sockaddr_un address;
    if (!addressOf(fresh, address, error)) {
        return false;
    }
    tcp::Connection opened;
    opened.descriptor = newSocket(error);
    if (opened.descriptor < 0) {
        return false;
    }
    struct stat facts;
    if (lstat(fresh.c_str(), &facts) == 0 && S_ISSOCK(facts.st_mode)) {
        unlink(fresh.c_str());
    }
    if (bind(opened.descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        chmod(fresh.c_str(), 0600) != 0 || listen(opened.descriptor, 128) != 0 ||
        rename(fresh.c_str(), path.c_str()) != 0) {
        error = systemError("listen");
        unlink(fresh.c_str());
        return false;
    }
    listener = std::move(opened);
    return true;
}

bool acceptWaiting(tcp::Connection& listener, tcp::Connection& peer, bool& sameUser) {
    const int descriptor =
        accept4(listener.descriptor, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    peer = tcp::Connection();
    peer.descriptor = descriptor;
    ucred credentials{};
    socklen_t size = sizeof credentials;
    sameUser = getsockopt(descriptor, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
               size == sizeof credentials && credentials.uid == geteuid();
    return true;
}

bool socketFileIdentity(const std::string& path, uint64_t& device, uint64_t& inode) {
    struct stat facts;
    if (lstat(path.c_str(), &facts) != 0) {
        return false;
    }
    device = static_cast<uint64_t>(facts.st_dev);
    inode = static_cast<uint64_t>(facts.st_ino);
    return true;
}

std::string hostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
        return "localhost";
    }
    return name;
}

}  // namespace local_socket
