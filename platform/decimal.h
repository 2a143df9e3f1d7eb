// Decimal numbers read from text, checked against overflow.
#pragma once

#include <cstdint>

// Decimal value of `text` as C's atoi reads it: leading white space, an
// optional sign, then digits up to the first other character; no digits
// give 0. Values beyond the 32-bit range saturate rather than wrap.
int32_t parseDecimalInt32(const char* text);

// Reads the decimal digits that `text` starts with into `value` and returns
// the first character after them. Null, with `value` unspecified, when
// `text` starts with no digit or the number does not fit 64 bits.
const char* parseDecimalDigits(const char* text, uint64_t& value);
