// Stream sockets that live in the file system (AF_UNIX), for the compile
// service: a listener, its connections and the checks on who is at the other
// end. Connections are tcp::Connection records, so sendAll and receiveSome
// (with their deadlines) work on them unchanged. Every descriptor is
// non-blocking and closed on exec. POSIX only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/tcp_connection.h"

namespace local_socket {

// The longest path a socket address holds (108 bytes less the terminating
// NUL on Linux).
constexpr size_t kMaxSocketPath = 107;
// listenAt binds at the path with this suffix first.
constexpr const char* kFreshSuffix = ".new";
// The longest path listenAt can listen at.
constexpr size_t kMaxListenPath = kMaxSocketPath - 4;

// Connects to the socket at `path`. A path where nobody listens fails at
// once (`failed`); a listener whose queue is full gives `timedOut`.
tcp::Outcome connectTo(const std::string& path, tcp::Connection& connection, std::string& error);

// Listens at `path` (mode 0600, at most kMaxListenPath long), replacing
// whatever stands there once it listens: the caller holds the lock that
// makes it the only listener.
bool listenAt(const std::string& path, tcp::Connection& listener, std::string& error);

// Takes one waiting connection (none waiting: false). `sameUser` tells
// whether its peer runs under this process's user id.
bool acceptWaiting(tcp::Connection& listener, tcp::Connection& peer, bool& sameUser);

// Device and inode of what stands at `path` (a link not followed); false when
// nothing does.
bool socketFileIdentity(const std::string& path, uint64_t& device, uint64_t& inode);

// This machine's name; "localhost" when it cannot be told.
std::string hostName();

}  // namespace local_socket
