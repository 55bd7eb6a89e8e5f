#include "scan/ini/textdecoding.h"

#include "platform/utf8lead.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace orvantis {

size_t EncodingSniffer::feed(const char *data, size_t size) {
    size_t mark = 0;
    if (!started_) {
        started_ = true;
        if (size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0)
            byteOrderMark_ = true, mark = 3;
    }
    utf8_.feed(data + mark, size - mark);
    return mark;
}

void Utf8Validator::feed(const char *data, size_t size) {
    if (!valid_)
        return;
    for (size_t i = 0; i < size; ++i) {
        // Runs of ASCII, eight bytes at a time.
        while (pending_ == 0 && i + 8 <= size) {
            uint64_t word;
            std::memcpy(&word, data + i, 8);
            if (word & 0x8080808080808080ULL)
                break;
            i += 8;
        }
        if (i >= size)
            break;
        const auto b = static_cast<unsigned char>(data[i]);
        if (pending_ > 0) {
            if (b < lo_ || b > hi_) {
                valid_ = false;
                return;
            }
            --pending_;
            lo_ = 0x80, hi_ = 0xBF;
            continue;
        }
        if (b < 0x80)
            continue;
        nonAscii_ = true;
        const Utf8Lead lead = utf8LeadOf(b);
        if (!lead.valid) {
            valid_ = false;
            return;
        }
        pending_ = lead.following, lo_ = lead.lo, hi_ = lead.hi;
    }
}

namespace {
// What the bytes 0x80..0x9F stand for.
const char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                            0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
} // namespace

QString decodeWindows1252(const QByteArray &bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        text[i] = QChar(b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : char16_t(b));
    }
    return text;
}

bool encodeWindows1252(const QString &text, QByteArray &bytes) {
    bytes.clear();
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            bytes += static_cast<char>(u);
            continue;
        }
        const char16_t *at = std::find(std::begin(kHigh), std::end(kHigh), u);
        if (at == std::end(kHigh))
            return false;
        bytes += static_cast<char>(0x80 + (at - kHigh));
    }
    return true;
}

QString firstCharacters(const QString &text, int count) {
    qsizetype units = 0;
    for (int chars = 0; chars < count && units < text.size(); ++chars)
        units += (text[units].isHighSurrogate() && units + 1 < text.size() &&
                  text[units + 1].isLowSurrogate())
                     ? 2
                     : 1;
    return units >= text.size() ? text : text.left(units);
}

} // namespace orvantis
