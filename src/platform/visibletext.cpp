#include "platform/visibletext.h"

#include <algorithm>

namespace orvantis {

namespace {

// File names keep each byte that is not UTF-8 as a lone surrogate U+DC80..U+DCFF.
bool isKeptByte(char16_t c) {
    return c >= 0xDC80 && c <= 0xDCFF;
}

bool isEscaped(char16_t c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == u'\\' || isKeptByte(c);
}

QString hex(unsigned value, int digits) {
    return QString::number(value, 16).rightJustified(digits, u'0');
}

} // namespace

bool needsEscaping(QStringView text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return isEscaped(c.unicode()); });
}

QString withControlsEscaped(QStringView text) {
    if (!needsEscaping(text))
        return text.toString();
    QString escaped;
    escaped.reserve(text.size() + 16);
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        if (c == u'\\')
            escaped += QLatin1String("\\\\");
        else if (c < 0x20 || c == 0x7F)
            escaped += QLatin1String("\\x") + hex(c, 2);
        else if (c >= 0x80 && c <= 0x9F)
            escaped += QLatin1String("\\u") + hex(c, 4);
        else if (isKeptByte(c))
            escaped += QLatin1String("\\x") + hex(c - 0xDC00, 2);
        else
            escaped += ch;
    }
    return escaped;
}

} // namespace orvantis
