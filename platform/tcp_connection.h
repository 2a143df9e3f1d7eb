// A TCP client connection whose every step ends by an absolute deadline (a
// monotonic time in milliseconds, see nowMilliseconds): name resolution,
// connecting, sending and receiving. A peer that trickles one byte a second
// is cut off at the deadline like one that never answers. POSIX only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tcp {

// Milliseconds of a clock that never goes back.
int64_t nowMilliseconds();

enum class Outcome {
    done,
    timedOut,  // the deadline passed first
    failed,    // refused, reset, unresolvable: `error` says which
};

// An open connection; closed when the record goes. Move-only.
struct Connection {
    int descriptor = -1;

    Connection() = default;
    ~Connection() { close(); }
    Connection(Connection&& other) noexcept : descriptor(other.descriptor) {
        other.descriptor = -1;
    }
    Connection& operator=(Connection&& other) noexcept;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    void close() noexcept;
};

// Resolves `host` (a name or a numeric address) and connects to the first
// address that answers, all before `deadline`.
Outcome connectTo(const std::string& host, uint16_t port, int64_t deadline, Connection& connection,
                  std::string& error);

// Sends all `size` bytes before `deadline`.
Outcome sendAll(Connection& connection, const char* data, size_t size, int64_t deadline,
                std::string& error);

// Waits until some bytes arrive or `deadline` passes and stores at most
// `capacity` of them. `received` 0 with `done` means the peer closed.
Outcome receiveSome(Connection& connection, char* buffer, size_t capacity, size_t& received,
                    int64_t deadline, std::string& error);

}  // namespace tcp
