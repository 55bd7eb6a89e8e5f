#include "scan/filenames.h"

#include <algorithm>

namespace orvantis {

namespace {

// The length of the valid UTF-8 sequence starting at s[i], or 0 when there is none.
int validSequenceLength(const unsigned char *s, qsizetype i, qsizetype n) {
    const unsigned char b = s[i];
    int length = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b < 0x80)
        return 1;
    if (b >= 0xC2 && b <= 0xDF)
        length = 2;
    else if (b == 0xE0)
        length = 3, lo = 0xA0;
    else if ((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF)
        length = 3;
    else if (b == 0xED)
        length = 3, hi = 0x9F;
    else if (b == 0xF0)
        length = 4, lo = 0x90;
    else if (b >= 0xF1 && b <= 0xF3)
        length = 4;
    else if (b == 0xF4)
        length = 4, hi = 0x8F;
    else
        return 0;
    if (i + length > n)
        return 0;
    for (int k = 1; k < length; ++k) {
        const unsigned char c = s[i + k];
        if (c < (k == 1 ? lo : 0x80) || c > (k == 1 ? hi : 0xBF))
            return 0;
    }
    return length;
}

} // namespace

QString DecodeFileName(const QByteArray &bytes) {
    const auto *s = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype n = bytes.size();
    if (std::all_of(s, s + n, [](unsigned char c) { return c < 0x80; }))
        return QString::fromLatin1(bytes);
    QString name;
    name.reserve(n);
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < n;) {
        const int length = validSequenceLength(s, i, n);
        if (length > 0) {
            i += length;
            continue;
        }
        name += QString::fromUtf8(bytes.constData() + runStart, i - runStart);
        name += QChar(char16_t(0xDC00 + s[i]));
        runStart = ++i;
    }
    name += QString::fromUtf8(bytes.constData() + runStart, n - runStart);
    return name;
}

QByteArray EncodeFileName(const QString &name) {
    QByteArray bytes;
    bytes.reserve(name.size());
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        const bool escaped = c >= 0xDC80 && c <= 0xDCFF &&
                             (i == 0 || !QChar::isHighSurrogate(name[i - 1].unicode()));
        if (!escaped)
            continue;
        bytes += QStringView(name).mid(runStart, i - runStart).toUtf8();
        bytes += char(c - 0xDC00);
        runStart = i + 1;
    }
    bytes += QStringView(name).mid(runStart).toUtf8();
    return bytes;
}

} // namespace orvantis
