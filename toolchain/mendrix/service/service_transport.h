// Whole messages of the compile service over a connection, each step by a
// deadline (tcp::nowMilliseconds). POSIX only.
#pragma once

#include <cstdint>
#include <string>

#include "platform/tcp_connection.h"

namespace mendrix {

// Reads one message of `magic` (service_request.h) whole. False when the
// peer closes early, the header is not one of `magic`, or the deadline
// passes.
bool receiveServiceMessage(tcp::Connection& connection, uint32_t magic, int64_t deadline,
                           std::string& message);

// Reads the one byte the service sends when it takes a request up.
bool receiveStartedByte(tcp::Connection& connection, int64_t deadline);

bool sendServiceBytes(tcp::Connection& connection, const std::string& bytes, int64_t deadline);

}  // namespace mendrix
