// The compile service's time limits, shared by client and service.
#pragma once

#include <cstdint>

namespace mendrix {

// A request not taken up by the service within this time (all its workers
// busy) is compiled in process by the client.
constexpr int64_t kServiceQueueMilliseconds = 2000;

// Sending or receiving one message whole.
constexpr int64_t kServiceIoMilliseconds = 10000;

// How long a client waits for the answer to a request of `requestBytes`:
// ten seconds, and one more per 64 KiB of text (a large program compiles
// longer). A service that takes longer counts as hung.
constexpr int64_t serviceAnswerMilliseconds(uint64_t requestBytes) {
    return 10000 + static_cast<int64_t>(requestBytes / 65536) * 1000;
}

}  // namespace mendrix
