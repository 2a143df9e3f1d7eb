#include "toolchain/common/hash128.h"

namespace toolchain {

namespace {

__extension__ typedef unsigned __int128 Uint128;

Uint128 makeUint128(uint64_t high, uint64_t low) {
    return (static_cast<Uint128>(high) << 64) | low;
}

}  // namespace

Hash128 hash128(std::string_view bytes) {
    const Uint128 prime = makeUint128(0x0000000001000000ull, 0x000000000000013Bull);
    Uint128 state = makeUint128(0x6c62272e07bb0142ull, 0x62b821756295c58dull);
    for (char c : bytes) {
        state ^= static_cast<uint8_t>(c);
        state *= prime;
    }
    Hash128 digest{};
    for (int i = 15; i >= 0; --i) {
        digest[i] = static_cast<uint8_t>(state & 0xff);
        state >>= 8;
    }
    return digest;
}

std::string hexOf(std::span<const uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xf];
    }
    return text;
}

}  // namespace toolchain
