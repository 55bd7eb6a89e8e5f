#pragma once

namespace orvantis {

// What a byte says as the first of a UTF-8 sequence: how many bytes follow it, and the range
// the next one must fall in (later ones fall in 0x80..0xBF). `valid` is false for a byte that
// starts no sequence; ASCII starts one of its own with none following. Overlong forms,
// surrogates and code points above U+10FFFF start none.
struct Utf8Lead {
    bool valid;
    int following;
    unsigned char lo, hi;
};

constexpr Utf8Lead utf8LeadOf(unsigned char b) {
    if (b < 0x80)
        return {true, 0, 0x80, 0xBF};
    if (b >= 0xC2 && b <= 0xDF)
        return {true, 1, 0x80, 0xBF};
    if (b == 0xE0)
        return {true, 2, 0xA0, 0xBF};
    if ((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF)
        return {true, 2, 0x80, 0xBF};
    if (b == 0xED) // no surrogates
        return {true, 2, 0x80, 0x9F};
    if (b == 0xF0)
        return {true, 3, 0x90, 0xBF};
    if (b >= 0xF1 && b <= 0xF3)
        return {true, 3, 0x80, 0xBF};
    if (b == 0xF4) // nothing above U+10FFFF
        return {true, 3, 0x80, 0x8F};
    return {false, 0, 0, 0};
}

} // namespace orvantis
