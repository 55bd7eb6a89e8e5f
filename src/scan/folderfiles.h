#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace orvantis {

// The path with each part that does not exist as written replaced by an entry of the same
// name in other letter case, when there is one; names are matched without regard to letter
// case. A part that exists as written is kept. Returns the path unchanged when nothing matches.
QString ResolvePathIgnoringCase(const QString &path);

// The files of a folder, found with its name matched without regard to letter case.
struct FolderListing {
    QString folder; // the folder as found on disk, ending in "/"; empty when there is none
    QStringList names;
    std::vector<QByteArray> paths; // each file's full path as stored on disk, to open it by
};

// The regular files directly in a folder (a link to a regular file counts, a folder never),
// their names without the folder, sorted without regard to ASCII letter case. A missing folder, or a
// path that is no folder, lists nothing. A folder that cannot be read raises a Failure.
FolderListing ListRegularFiles(const QString &folder);

// The names of the files in a folder, at indices 0 to n - 1; with no files (or no folder), one
// element holding the empty text.
QStringList ListFolderFiles(QString folder);

} // namespace orvantis
