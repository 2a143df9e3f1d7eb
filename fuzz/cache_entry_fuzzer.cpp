// The compile cache's entry reader on any bytes: once as they are, once
// closed with the checksum they lack, so that mutations reach past the
// checksum (the seeds are entries without their last 16 bytes). Whatever
// the reader accepts must be exactly what the writer makes of it.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "toolchain/mendrix/cache_entry.h"

namespace {

void decodeAndCheck(std::string_view bytes) {
    mendrix::CacheEntry entry;
    if (mendrix::decodeCacheEntry(bytes, entry)) {
        FUZZ_CHECK(mendrix::encodeCacheEntry(entry) == bytes);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    decodeAndCheck(bytes);
    auto checksum = mendrix::cacheEntryChecksum(bytes);
    bytes.append(reinterpret_cast<const char*>(checksum.data()), checksum.size());
    decodeAndCheck(bytes);
    return 0;
}
