// The 128-bit stage hash of the debug information (FNV-1a), which a stage
// record carries and the compile cache checks, and hex text of 16-byte
// digests (stage hashes and cache keys alike).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace toolchain {

using Hash128 = std::array<uint8_t, 16>;

// FNV-1a, 128-bit, over `bytes`; the digest is stored big-endian.
Hash128 hash128(std::string_view bytes);

// Two lowercase hex digits per byte, in order.
std::string hexOf(std::span<const uint8_t> bytes);

}  // namespace toolchain
