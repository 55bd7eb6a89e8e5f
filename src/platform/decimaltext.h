#pragma once

#include <cstdint>

namespace orvantis {

// Room enough for any 64-bit integer in decimal: a sign and nineteen digits.
constexpr int kDecimalRoom = 20;

// Writes a whole number in plain decimal ("-" for negatives, no leading zeros) into `out`,
// which has kDecimalRoom characters of room, and returns how many it wrote.
inline int writeDecimal(int64_t value, char16_t *out) {
    char16_t reversed[kDecimalRoom];
    int length = 0;
    uint64_t n = value < 0 ? 0u - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
        reversed[length++] = static_cast<char16_t>(u'0' + n % 10);
        n /= 10;
    } while (n > 0);
    if (value < 0)
        reversed[length++] = u'-';
    for (int i = 0; i < length; ++i)
        out[i] = reversed[length - 1 - i];
    return length;
}

} // namespace orvantis
