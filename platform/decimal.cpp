#include "platform/decimal.h"

#include <climits>

namespace {

// Bytes 0x80 to 0xFF are never white space, whatever the C locale says.
bool isWhiteSpace(char character) {
    return character == ' ' || character == '\t' || character == '\n' || character == '\v' ||
           character == '\f' || character == '\r';
}

}  // namespace

int32_t parseDecimalInt32(const char* text) {
    while (isWhiteSpace(*text)) {
        ++text;
    }
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    const long long limit = negative ? -static_cast<long long>(INT32_MIN) : INT32_MAX;
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > limit) {
            value = limit;
        }
    }
    return static_cast<int32_t>(negative ? -value : value);
}

const char* parseDecimalDigits(const char* text, uint64_t& value) {
    if (*text < '0' || *text > '9') {
        return nullptr;
    }
    value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        const uint64_t digit = static_cast<uint64_t>(*text - '0');
        if (value > (UINT64_MAX - digit) / 10) {
            return nullptr;
        }
        value = value * 10 + digit;
    }
    return text;
}
