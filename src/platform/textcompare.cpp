#include "platform/textcompare.h"

#include "platform/asciitext.h"

#include <QString>

namespace orvantis {

int compareIgnoringCase(QStringView a, QStringView b) {
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t x = foldAscii(a[i].unicode());
        const char16_t y = foldAscii(b[i].unicode());
        if (x == y)
            continue;
        if (!isAscii(x) || !isAscii(y)) // leave the rest to Qt's full case folding
            return QStringView(a.mid(i)).compare(b.mid(i), Qt::CaseInsensitive);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

} // namespace orvantis
