#include "scan/ini/levelreading.h"

#include <charconv>
#include <cmath>
#include <string>

namespace orvantis {

namespace {

bool skipped(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n';
}

template <typename Text> std::optional<int32_t> parseLevel(Text text) {
    std::string number;
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto skipBlanks = [&] {
        while (i < n && skipped(QChar(text[i]).unicode()))
            ++i;
    };
    skipBlanks();
    if (i < n && (QChar(text[i]) == u'-' || QChar(text[i]) == u'+')) {
        if (QChar(text[i]) == u'-')
            number += '-';
        ++i;
    }
    bool point = false;
    bool digits = false;
    bool wholeAboveZero = false;
    for (skipBlanks(); i < n; ++i, skipBlanks()) {
        const char16_t c = QChar(text[i]).unicode();
        if (c >= u'0' && c <= u'9') {
            number += static_cast<char>(c);
            digits = true;
            wholeAboveZero = wholeAboveZero || (!point && c != u'0');
        } else if (c == u'.' && !point) {
            number += '.';
            point = true;
        } else {
            break;
        }
    }
    if (!digits)
        return 0;

    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    (void)end;
    // Out of range is an overflow only when the whole part is above zero; below 1 it is a value
    // too small for a double, which rounds to 0 like anything else below one half.
    if (error == std::errc::result_out_of_range && !wholeAboveZero)
        return 0;
    const double rounded = std::nearbyint(value); // the default rounding mode: halves to even
    if (error == std::errc::result_out_of_range || rounded < -2147483648.0 ||
        rounded > 2147483647.0)
        return std::nullopt;
    return static_cast<int32_t>(rounded);
}

} // namespace

std::optional<int32_t> readLevel(QStringView text) {
    return parseLevel(text);
}
std::optional<int32_t> readLevel(QLatin1StringView text) {
    return parseLevel(text);
}

} // namespace orvantis
