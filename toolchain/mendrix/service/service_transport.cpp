#include "toolchain/mendrix/service/service_transport.h"

#include "toolchain/mendrix/service/service_request.h"

namespace mendrix {

namespace {

// Fills `bytes` up to `size` from the connection.
bool receiveUpTo(tcp::Connection& connection, std::string& bytes, size_t size, int64_t deadline) {
    std::string error;
    char buffer[64 * 1024];
    while (bytes.size() < size) {
        size_t received = 0;
        const size_t wanted = std::min(sizeof buffer, size - bytes.size());
        if (tcp::receiveSome(connection, buffer, wanted, received, deadline, error) !=
                tcp::Outcome::done ||
            received == 0) {
            return false;
        }
        bytes.append(buffer, received);
    }
    return true;
}

}  // namespace

bool receiveServiceMessage(tcp::Connection& connection, uint32_t magic, int64_t deadline,
                           std::string& message) {
    message.clear();
    if (!receiveUpTo(connection, message, kServiceHeaderSize, deadline)) {
        return false;
    }
    const uint64_t size = messageSizeFromHeader(message, magic);
    if (size == 0) {
        return false;
    }
    message.reserve(static_cast<size_t>(size));
    return receiveUpTo(connection, message, static_cast<size_t>(size), deadline);
}

bool receiveStartedByte(tcp::Connection& connection, int64_t deadline) {
    std::string byte;
    return receiveUpTo(connection, byte, 1, deadline) && byte[0] == kServiceStartedByte;
}

bool sendServiceBytes(tcp::Connection& connection, const std::string& bytes, int64_t deadline) {
    std::string error;
    return tcp::sendAll(connection, bytes.data(), bytes.size(), deadline, error) ==
           tcp::Outcome::done;
}

}  // namespace mendrix
