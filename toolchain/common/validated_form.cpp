#include "toolchain/common/validated_form.h"

#include <cstring>

#include "toolchain/common/little_endian.h"

namespace toolchain {

namespace {

uint32_t wordAt(std::span<const uint8_t> bytes, size_t at) {
    return static_cast<uint32_t>(loadLittleEndian(bytes.data() + at, 4));
}

size_t paddedSize(size_t textLength) {
    return (kValidatedFormHeaderSize + textLength + 3) & ~size_t{3};
}

}  // namespace

std::vector<uint8_t> encodeValidatedForm(uint32_t kind, uint32_t languageVersion, bool essl,
                                         std::string_view text) {
    std::vector<uint8_t> bytes(paddedSize(text.size()), 0);
    auto put = [&bytes](size_t at, uint32_t value) {
        storeLittleEndian(bytes.data() + at, value, 4);
    };
    put(0, kValidatedFormMagic);
    put(4, kValidatedFormVersion);
    put(8, kind);
    put(12, languageVersion);
    put(16, essl ? 1 : 0);
    put(20, static_cast<uint32_t>(text.size()));
    if (!text.empty()) {
        std::memcpy(bytes.data() + kValidatedFormHeaderSize, text.data(), text.size());
    }
    return bytes;
}

bool parseValidatedForm(std::span<const uint8_t> bytes, ValidatedForm& form, std::string& error) {
    if (bytes.size() < kValidatedFormHeaderSize || wordAt(bytes, 0) != kValidatedFormMagic) {
        error = "not a validated-form stage";
        return false;
    }
    if (wordAt(bytes, 4) != kValidatedFormVersion) {
        error = "validated form version " + std::to_string(wordAt(bytes, 4)) + " is not known";
        return false;
    }
    size_t length = wordAt(bytes, 20);
    if (length > bytes.size() - kValidatedFormHeaderSize || paddedSize(length) != bytes.size()) {
        error = "the text length does not match the stage's size";
        return false;
    }
    for (size_t at = kValidatedFormHeaderSize + length; at < bytes.size(); ++at) {
        if (bytes[at] != 0) {
            error = "non-zero padding after the text";
            return false;
        }
    }
    form.kind = wordAt(bytes, 8);
    form.languageVersion = wordAt(bytes, 12);
    form.essl = wordAt(bytes, 16) != 0;
    form.text = std::string_view(
        reinterpret_cast<const char*>(bytes.data()) + kValidatedFormHeaderSize, length);
    return true;
}

}  // namespace toolchain
