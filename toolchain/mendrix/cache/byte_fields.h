// Little-endian fields of the library's binary formats (cache entries, the
// compile service's messages): writers that append, and one reader that
// refuses to read past its bytes, so no decoder trusts a size it was handed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "toolchain/common/little_endian.h"

namespace mendrix {

inline void putNumber(std::string& out, uint64_t value, size_t size) {
    toolchain::appendLittleEndian(out, value, size);
}

// A uint64 size, then the bytes.
inline void putBytes(std::string& out, const void* data, size_t size) {
    putNumber(out, size, 8);
    out.append(static_cast<const char*>(data), size);
}

// Reads from the front of `rest`; every read fails once the bytes run out.
struct ByteCursor {
    std::string_view rest;

    bool number(uint64_t& value, size_t size) {
        if (rest.size() < size) {
            return false;
        }
        value = toolchain::loadLittleEndian(rest.data(), size);
        rest.remove_prefix(size);
        return true;
    }
    bool raw(void* out, size_t size) {
        if (rest.size() < size) {
            return false;
        }
        std::memcpy(out, rest.data(), size);
        rest.remove_prefix(size);
        return true;
    }
    // What putBytes wrote.
    bool view(std::string_view& out) {
        uint64_t size = 0;
        if (!number(size, 8) || size > rest.size()) {
            return false;
        }
        out = rest.substr(0, static_cast<size_t>(size));
        rest.remove_prefix(static_cast<size_t>(size));
        return true;
    }
    bool flag(bool& out) {
        uint64_t value = 0;
        if (!number(value, 1) || value > 1) {
            return false;
        }
        out = value == 1;
        return true;
    }
};

}  // namespace mendrix
