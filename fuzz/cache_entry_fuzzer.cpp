// The compile cache's entry reader on any bytes: once as they are, once
// closed with the checksum they lack, so that mutations reach past the
// checksum (the seeds are entries without their last 16 bytes). Whatever
// the reader accepts must be exactly what the writer makes of it, and every
// record must describe the bytes its stage holds: a size the entry does not
// hold would make a hit hand out memory that is not the entry's.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "toolchain/mendrix/cache/cache_entry.h"

namespace {

void decodeAndCheck(std::string_view bytes) {
    mendrix::CacheEntry entry;
    if (!mendrix::decodeCacheEntry(bytes, entry)) {
        return;
    }
    FUZZ_CHECK(mendrix::encodeCacheEntry(entry) == bytes);
    for (const mendrix::CachedStage& stage : entry.stages) {
        FUZZ_CHECK(stage.record.binarySize == stage.binary.size());
        FUZZ_CHECK(stage.record.reflectionSize == stage.reflection.size());
        FUZZ_CHECK(stage.record.kind == stage.slot + 1);
        FUZZ_CHECK(stage.record.binaryFormat == toolchain::kBinarySpirv ||
                   stage.record.binaryFormat == toolchain::kBinaryValidated);
        FUZZ_CHECK(stage.hasDump || stage.dump.empty());
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
