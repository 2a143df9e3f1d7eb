// The .vrx reader on any bytes: once as they are, once with the file size
// and checksum fields made to agree with them, so that mutations reach past
// those checks. Whatever the reader accepts must be exactly what the encoder
// makes of the model it read, and must describe without fault.
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "toolchain/tmb/vrx_describe.h"
#include "toolchain/tmb/vrx_format.h"

namespace {

constexpr size_t kFileSizeOffset = 40;

void store32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    for (int index = 0; index < 4; ++index) {
        bytes[offset + index] = static_cast<uint8_t>(value >> (8 * index));
    }
}

void decodeAndCheck(std::span<const uint8_t> bytes) {
    tmb::ShaderFile file;
    std::string error;
    if (!tmb::decodeShaderFile(bytes, file, error)) {
        FUZZ_CHECK(!error.empty());
        return;
    }
    std::string validationError;
    FUZZ_CHECK(tmb::validateShaderFile(file, validationError));
    std::vector<uint8_t> encoded;
    FUZZ_CHECK(tmb::encodeShaderFile(file, encoded, error));
    FUZZ_CHECK(encoded.size() == bytes.size());
    FUZZ_CHECK(std::memcmp(encoded.data(), bytes.data(), bytes.size()) == 0);
    FUZZ_CHECK(!tmb::describeShaderFile(file, bytes.size()).empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    decodeAndCheck(std::span<const uint8_t>(data, size));
    if (size < tmb::kFileHeaderSize) {
        return 0;
    }
    std::vector<uint8_t> bytes(data, data + size);
    store32(bytes, kFileSizeOffset, static_cast<uint32_t>(size));
    store32(bytes, tmb::kChecksumOffset, 0);
    store32(bytes, tmb::kChecksumOffset, tmb::crc32(bytes));
    decodeAndCheck(bytes);
    return 0;
}
