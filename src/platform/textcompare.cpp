#include "platform/textcompare.h"

#include <QString>

namespace orvantis {

int compareIgnoringCase(QStringView a, QStringView b) {
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        char16_t x = a[i].unicode();
        char16_t y = b[i].unicode();
        if (x == y)
            continue;
        if (x >= 0x80 || y >= 0x80) // leave the rest to Qt's full case folding
            return QStringView(a.mid(i)).compare(b.mid(i), Qt::CaseInsensitive);
        if (x >= u'A' && x <= u'Z')
            x += u'a' - u'A';
        if (y >= u'A' && y <= u'Z')
            y += u'a' - u'A';
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

} // namespace orvantis
