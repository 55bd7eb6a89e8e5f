#include "scan/system/pathignoringcase.h"

#include "platform/textcompare.h"
#include "scan/system/filenames.h"
#include "scan/system/folderentries.h"

#include <QStringList>

namespace orvantis {

namespace {

bool lessIgnoringCase(const QString &a, const QString &b) {
    const int c = compareIgnoringCase(a, b);
    return c != 0 ? c < 0 : a < b;
}

// An entry of `directory` whose name equals `name` without regard to letter case; the first
// such name in sorted order, or the empty text.
QString findIgnoringCase(const QByteArray &directory, const QString &name) {
    FolderEntries entries(directory);
    QString best;
    while (const FolderEntry *entry = entries.next()) {
        const QString candidate =
            decodeFileName(QByteArray(entry->name, static_cast<qsizetype>(entry->length)));
        if (compareIgnoringCase(candidate, name) == 0 &&
            (best.isEmpty() || lessIgnoringCase(candidate, best)))
            best = candidate;
    }
    return best;
}

} // namespace

QString resolvePathIgnoringCase(const QString &path) {
    if (path.isEmpty() || entryExists(encodeFileName(path)))
        return path;
    const bool absolute = path.startsWith(u'/');
    const bool trailing = path.endsWith(u'/');
    QString resolved = absolute ? QStringLiteral("/") : QString();
    for (const QString &part : path.split(u'/', Qt::SkipEmptyParts)) {
        QString next = resolved.isEmpty() || resolved.endsWith(u'/') ? resolved + part
                                                                     : resolved + u'/' + part;
        if (part != QLatin1String(".") && part != QLatin1String("..") &&
            !entryExists(encodeFileName(next))) {
            const QString found = findIgnoringCase(encodeFileName(resolved), part);
            if (found.isEmpty())
                return path;
            next = resolved.isEmpty() || resolved.endsWith(u'/') ? resolved + found
                                                                 : resolved + u'/' + found;
        }
        resolved = next;
    }
    return trailing && !resolved.endsWith(u'/') ? resolved + u'/' : resolved;
}

} // namespace orvantis
