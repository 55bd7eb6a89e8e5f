#pragma once

#include <QLatin1StringView>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace orvantis {

// Reads a character level: the number the text begins with, blanks, tabs and line feeds
// skipped wherever they stand, then an optional sign and decimal digits with at most one "."
// (whatever the locale), up to the first character that cannot continue it; no radix prefix
// and no exponent. A text that does not begin with a number reads as 0. The number is rounded
// to the nearest integer, halves to even; a result outside the signed 32-bit range is out of
// range, and gives nothing.
std::optional<int32_t> readLevel(QStringView text);
std::optional<int32_t> readLevel(QLatin1StringView text);

} // namespace orvantis
