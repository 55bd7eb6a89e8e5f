#include "scan/system/filenames.h"

#include "platform/asciitext.h"
#include "platform/utf8lead.h"

#include <algorithm>

namespace orvantis {

namespace {

// The length of the valid UTF-8 sequence starting at s[i], or 0 when there is none.
int validSequenceLength(const unsigned char *s, qsizetype i, qsizetype n) {
    const Utf8Lead lead = utf8LeadOf(s[i]);
    if (!lead.valid || i + lead.following >= n)
        return 0;
    for (int k = 1; k <= lead.following; ++k) {
        const unsigned char c = s[i + k];
        if (c < (k == 1 ? lead.lo : 0x80) || c > (k == 1 ? lead.hi : 0xBF))
            return 0;
    }
    return lead.following + 1;
}

} // namespace

QString decodeFileName(const QByteArray &bytes) {
    const auto *s = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype n = bytes.size();
    if (isAscii(s, s + n))
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

QByteArray encodeFileName(const QString &name) {
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

bool comesBeforeInNameOrder(std::string_view a, std::string_view b) {
    const size_t common = std::min(a.size(), b.size());
    for (size_t k = 0; k < common; ++k) {
        const auto fa = static_cast<unsigned char>(foldAscii(a[k]));
        const auto fb = static_cast<unsigned char>(foldAscii(b[k]));
        if (fa != fb)
            return fa < fb;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

} // namespace orvantis
