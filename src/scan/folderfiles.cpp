#include "scan/folderfiles.h"

#include "platform/failure.h"
#include "platform/textcompare.h"
#include "scan/filenames.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>

namespace orvantis {

namespace {

constexpr int32_t kPermissionDenied = 70;

struct DirCloser {
    void operator()(DIR *dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool isDotOrDotDot(const char *name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool lessIgnoringCase(const QString &a, const QString &b) {
    const int c = CompareIgnoringCase(a, b);
    return c != 0 ? c < 0 : a < b;
}

// An entry of `directory` whose name equals `name` without regard to letter case; the first
// such name in sorted order, or the empty text.
QString findIgnoringCase(const QByteArray &directory, const QString &name) {
    DirHandle dir(::opendir(directory.isEmpty() ? "." : directory.constData()));
    if (!dir)
        return QString();
    QString best;
    while (const dirent *entry = ::readdir(dir.get())) {
        const QString candidate = DecodeFileName(QByteArray(entry->d_name));
        if (CompareIgnoringCase(candidate, name) == 0 && (best.isEmpty() || lessIgnoringCase(candidate, best)))
            best = candidate;
    }
    return best;
}

bool exists(const QByteArray &path) {
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0;
}

} // namespace

QString ResolvePathIgnoringCase(const QString &path) {
    if (path.isEmpty() || exists(EncodeFileName(path)))
        return path;
    const bool absolute = path.startsWith(u'/');
    const bool trailing = path.endsWith(u'/');
    QString resolved = absolute ? QStringLiteral("/") : QString();
    for (const QString &part : path.split(u'/', Qt::SkipEmptyParts)) {
        QString next = resolved.isEmpty() || resolved.endsWith(u'/') ? resolved + part : resolved + u'/' + part;
        if (part != QLatin1String(".") && part != QLatin1String("..") && !exists(EncodeFileName(next))) {
            const QString found = findIgnoringCase(EncodeFileName(resolved), part);
            if (found.isEmpty())
                return path;
            next = resolved.isEmpty() || resolved.endsWith(u'/') ? resolved + found : resolved + u'/' + found;
        }
        resolved = next;
    }
    return trailing && !resolved.endsWith(u'/') ? resolved + u'/' : resolved;
}

FolderListing ListRegularFiles(const QString &folder) {
    FolderListing listing;
    const QString resolved = ResolvePathIgnoringCase(folder);
    const QByteArray path = EncodeFileName(resolved);
    struct stat info {};
    if (::stat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return listing;
    DirHandle dir(::opendir(path.constData()));
    if (!dir) {
        if (errno == ENOENT || errno == ENOTDIR) // gone since the look above
            return listing;
        throw Failure(kPermissionDenied,
                      QStringLiteral("Cannot read the folder %1: %2").arg(resolved, QString::fromLocal8Bit(std::strerror(errno))));
    }
    listing.folder = resolved.endsWith(u'/') ? resolved : resolved + u'/';
    const QByteArray folderBytes = EncodeFileName(listing.folder);
    // Sorted on the names' bytes with ASCII letters folded, then as they are: cheap, and the same
    // order on every run.
    struct Entry {
        std::string folded;
        QByteArray raw;
    };
    std::vector<Entry> entries;
    const int dirFd = ::dirfd(dir.get());
    while (const dirent *entry = ::readdir(dir.get())) {
        if (isDotOrDotDot(entry->d_name))
            continue;
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat target {};
            regular = ::fstatat(dirFd, entry->d_name, &target, 0) == 0 && S_ISREG(target.st_mode);
        }
        if (!regular)
            continue;
        std::string folded(entry->d_name);
        for (char &c : folded)
            c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
        entries.push_back({std::move(folded), QByteArray(entry->d_name)});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        return a.folded != b.folded ? a.folded < b.folded : a.raw < b.raw;
    });
    listing.names.reserve(static_cast<qsizetype>(entries.size()));
    listing.paths.reserve(entries.size());
    for (const Entry &entry : entries) {
        listing.names << DecodeFileName(entry.raw);
        listing.paths.push_back(folderBytes + entry.raw);
    }
    return listing;
}

QStringList ListFolderFiles(QString folder) {
    QStringList names = ListRegularFiles(folder).names;
    if (names.isEmpty())
        names << QString();
    return names;
}

} // namespace orvantis
