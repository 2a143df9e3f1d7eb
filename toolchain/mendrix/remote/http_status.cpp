#include "toolchain/mendrix/remote/http_status.h"

namespace mendrix::remote {

namespace {

std::string statusText(long status) {
    return "the server answered with status " + std::to_string(status);
}

}  // namespace

StorageOutcome fetchOutcome(long status, std::string& error) {
    if (status == 200) {
        return StorageOutcome::hit;
    }
    if (status == 404) {
        return StorageOutcome::miss;
    }
    error = statusText(status);
    return status >= 300 && status < 400 ? StorageOutcome::refused : StorageOutcome::failed;
}

StorageOutcome storeOutcome(long status, std::string& error) {
    if (status >= 200 && status < 300) {
        return StorageOutcome::stored;
    }
    error = statusText(status);
    return status == 401 || (status >= 500 && status != 507) ? StorageOutcome::failed
                                                             : StorageOutcome::refused;
}

}  // namespace mendrix::remote
