// What an HTTP storage's status code means, the same whichever client
// carried the request.
#pragma once

#include <string>

#include "toolchain/mendrix/remote/storage_client.h"

namespace mendrix::remote {

// 200 a hit, 404 a miss. A redirect is a refusal (never followed); any other
// status fails the storage. `error` names the status unless it is a hit or
// a miss.
StorageOutcome fetchOutcome(long status, std::string& error);

// Any 2xx stored. A server that takes no writes (403, 405) or no more (507)
// only refuses this store; a wrong password (401) or a broken server (other
// 5xx) fails the storage.
StorageOutcome storeOutcome(long status, std::string& error);

}  // namespace mendrix::remote
