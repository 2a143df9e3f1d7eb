// Requests to one remote storage: fetch or store the bytes of one entry
// under its key. Each request ends by its deadlines; none throws.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "toolchain/mendrix/remote/remote_settings.h"

namespace mendrix::remote {

enum class StorageOutcome {
    hit,   // `bytes` holds the answer
    miss,  // the storage holds nothing under the key
    stored,
    refused,      // the server answered but would not do it (a read-only server, a full one)
    failed,       // unreachable, too slow, garbage, a wrong password: remembered as down
    unavailable,  // the client library cannot be loaded here
};

struct StorageAnswer {
    StorageOutcome outcome = StorageOutcome::failed;
    std::string bytes;
    std::string error;  // for failed, refused and unavailable; never holds a password
};

// When a request must have connected and when it must be over, as
// tcp::nowMilliseconds values.
struct RequestDeadlines {
    int64_t connectBy = 0;
    int64_t answerBy = 0;
};

RequestDeadlines deadlinesFromNow(const RemoteSettings& settings);

// "the answer is larger than 256 MiB" (or a number of bytes).
std::string answerTooLarge(uint64_t maxBytes);

// `key` is the entry's 32 hex digits; answers longer than `maxBytes` are
// refused before they are read whole.
StorageAnswer fetchFromRedis(const StorageAddress& address, const RequestDeadlines& deadlines,
                             const std::string& key, uint64_t maxBytes);
StorageAnswer storeInRedis(const StorageAddress& address, const RequestDeadlines& deadlines,
                           const std::string& key, std::string_view bytes);

// http:// on our own connection; https:// handed to the libcurl client
// below.
StorageAnswer fetchOverHttp(const StorageAddress& address, const RequestDeadlines& deadlines,
                            const std::string& key, uint64_t maxBytes);
StorageAnswer storeOverHttp(const StorageAddress& address, const RequestDeadlines& deadlines,
                            const std::string& key, std::string_view bytes);

StorageAnswer fetchOverHttps(const StorageAddress& address, const RequestDeadlines& deadlines,
                             const std::string& key, uint64_t maxBytes);
StorageAnswer storeOverHttps(const StorageAddress& address, const RequestDeadlines& deadlines,
                             const std::string& key, std::string_view bytes);

}  // namespace mendrix::remote
