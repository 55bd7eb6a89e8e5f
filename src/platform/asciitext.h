#pragma once

#include <algorithm>
#include <type_traits>

namespace orvantis {

// Helpers for the ASCII part of text. Names in account files and file names are matched without
// regard to ASCII letter case only; Qt's full case folding serves the rest of the program.

// Whether a character or byte is plain ASCII (below 0x80); a signed char counts as its byte.
template <typename Char> constexpr bool isAscii(Char c) {
    return static_cast<std::make_unsigned_t<Char>>(c) < 0x80;
}

// Whether every character or byte of a range is plain ASCII.
template <typename Iterator> bool isAscii(Iterator begin, Iterator end) {
    return std::all_of(begin, end, [](auto c) { return isAscii(c); });
}

// The letters A to Z as a to z; every other character or byte as it is.
template <typename Char> constexpr Char foldAscii(Char c) {
    return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c + ('a' - 'A')) : c;
}

} // namespace orvantis
