#include "platform/tcp_connection.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>

#include "platform/posix_file_io.h"

namespace tcp {

namespace {

std::string systemError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

int millisecondsLeft(int64_t deadline) {
    const int64_t left = deadline - nowMilliseconds();
    return left <= 0 ? 0 : static_cast<int>(left > 1'000'000 ? 1'000'000 : left);
}

// Waits for `events` on the descriptor until the deadline.
Outcome waitFor(int descriptor, short events, int64_t deadline, std::string& error) {
    for (;;) {
        const int timeout = millisecondsLeft(deadline);
        if (timeout == 0) {
            error = "no answer within the deadline";
            return Outcome::timedOut;
        }
        pollfd entry{descriptor, events, 0};
        const int ready = poll(&entry, 1, timeout);
        if (ready > 0) {
            return Outcome::done;
        }
        if (ready < 0 && errno != EINTR) {
            error = systemError("poll");
            return Outcome::failed;
        }
    }
}

// An asynchronous lookup. When the deadline passes while the resolver's
// thread still works on it, the record is left to that thread (a small,
// deliberate leak) rather than freed under it.
struct NameLookup {
    std::string host;
    std::string service;
    addrinfo hints{};
    gaicb request{};
};

struct AddressList {
    addrinfo* first = nullptr;
    ~AddressList() {
        if (first != nullptr) {
            freeaddrinfo(first);
        }
    }
};

Outcome resolveName(const std::string& host, uint16_t port, int64_t deadline,
                    AddressList& addresses, std::string& error) {
    const std::string service = std::to_string(port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &addresses.first) == 0) {
        return Outcome::done;  // a numeric address: nothing to wait for
    }
    auto lookup = std::make_unique<NameLookup>();
    lookup->host = host;
    lookup->service = service;
    lookup->hints = hints;
    lookup->hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    lookup->request.ar_name = lookup->host.c_str();
    lookup->request.ar_service = lookup->service.c_str();
    lookup->request.ar_request = &lookup->hints;
    gaicb* requests[] = {&lookup->request};
    if (getaddrinfo_a(GAI_NOWAIT, requests, 1, nullptr) != 0) {
        error = "cannot resolve " + host;
        return Outcome::failed;
    }
    for (;;) {
        const int status = gai_error(&lookup->request);
        if (status == 0) {
            addresses.first = lookup->request.ar_result;
            return Outcome::done;
        }
        if (status != EAI_INPROGRESS) {
            error = "cannot resolve " + host + ": " + gai_strerror(status);
            return Outcome::failed;
        }
        const int timeout = millisecondsLeft(deadline);
        if (timeout == 0) {
            if (gai_cancel(&lookup->request) != EAI_CANCELED) {
                lookup.release();  // still in the resolver's hands
            }
            error = "resolving " + host + " took longer than the deadline";
            return Outcome::timedOut;
        }
        const timespec wait{timeout / 1000, (timeout % 1000) * 1'000'000L};
        gai_suspend(requests, 1, &wait);
    }
}

Outcome connectToAddress(const addrinfo& address, int64_t deadline, Connection& connection,
                         std::string& error) {
    Connection candidate;
    candidate.descriptor = socket(
        address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address.ai_protocol);
    if (candidate.descriptor < 0) {
        error = systemError("socket");
        return Outcome::failed;
    }
    if (connect(candidate.descriptor, address.ai_addr, address.ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            error = systemError("connect");
            return Outcome::failed;
        }
        const Outcome waited = waitFor(candidate.descriptor, POLLOUT, deadline, error);
        if (waited != Outcome::done) {
            if (waited == Outcome::timedOut) {
                error = "connecting took longer than the deadline";
            }
            return waited;
        }
        int problem = 0;
        socklen_t size = sizeof problem;
        if (getsockopt(candidate.descriptor, SOL_SOCKET, SO_ERROR, &problem, &size) != 0 ||
            problem != 0) {
            errno = problem;
            error = systemError("connect");
            return Outcome::failed;
        }
    }
    const int on = 1;
    setsockopt(candidate.descriptor, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    connection = std::move(candidate);
    return Outcome::done;
}

}  // namespace

int64_t nowMilliseconds() {
    return safe_files::posix::monotonicMilliseconds();
}

Connection& Connection::operator=(Connection&& other) noexcept {
    if (this != &other) {
        close();
        descriptor = other.descriptor;
        other.descriptor = -1;
    }
    return *this;
}

void Connection::close() noexcept {
    if (descriptor >= 0) {
        ::close(descriptor);
        descriptor = -1;
    }
}

Outcome connectTo(const std::string& host, uint16_t port, int64_t deadline, Connection& connection,
                  std::string& error) {
    AddressList addresses;
    Outcome outcome = resolveName(host, port, deadline, addresses, error);
    for (const addrinfo* address = addresses.first; outcome == Outcome::done && address != nullptr;
         address = address->ai_next) {
        outcome = connectToAddress(*address, deadline, connection, error);
        if (outcome == Outcome::done) {
            return outcome;
        }
        if (outcome == Outcome::failed && address->ai_next != nullptr) {
            outcome = Outcome::done;  // try the next address
        }
    }
    if (outcome == Outcome::done) {
        error = "no address for " + host;
        outcome = Outcome::failed;
    }
    return outcome;
}

Outcome sendAll(Connection& connection, const char* data, size_t size, int64_t deadline,
                std::string& error) {
    while (size > 0) {
        const ssize_t sent = send(connection.descriptor, data, size, MSG_NOSIGNAL);
        if (sent > 0) {
            data += sent;
            size -= static_cast<size_t>(sent);
            continue;
        }
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            error = systemError("send");
            return Outcome::failed;
        }
        const Outcome waited = waitFor(connection.descriptor, POLLOUT, deadline, error);
        if (waited != Outcome::done) {
            return waited;
        }
    }
    return Outcome::done;
}

Outcome receiveSome(Connection& connection, char* buffer, size_t capacity, size_t& received,
                    int64_t deadline, std::string& error) {
    received = 0;
    for (;;) {
        const ssize_t count = recv(connection.descriptor, buffer, capacity, 0);
        if (count >= 0) {
            received = static_cast<size_t>(count);
            return Outcome::done;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            error = systemError("receive");
            return Outcome::failed;
        }
        const Outcome waited = waitFor(connection.descriptor, POLLIN, deadline, error);
        if (waited != Outcome::done) {
            return waited;
        }
    }
}

}  // namespace tcp
