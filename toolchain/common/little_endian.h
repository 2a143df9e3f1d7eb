// Numbers as little-endian bytes, the byte order of every file and record
// the toolchain writes (shader files, reflection blocks, the validated form,
// cache entries and keys), whatever the host's order.
#pragma once

#include <cstddef>
#include <cstdint>

namespace toolchain {

// Writes the low `size` bytes of `value` to `at`, lowest first.
inline void storeLittleEndian(void* at, uint64_t value, size_t size) {
    auto* bytes = static_cast<uint8_t*>(at);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

// The `size` bytes at `at`, lowest first.
inline uint64_t loadLittleEndian(const void* at, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(at);
    uint64_t value = 0;
    for (size_t i = 0; i < size; ++i) {
        value |= uint64_t{bytes[i]} << (8 * i);
    }
    return value;
}

// Appends the low `size` bytes of `value`, lowest first, to a byte string
// or vector.
template <typename Bytes>
void appendLittleEndian(Bytes& out, uint64_t value, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        out.push_back(static_cast<typename Bytes::value_type>(value >> (8 * i)));
    }
}

}  // namespace toolchain
