#include "scan/folderfiles.h"

#include "platform/asciitext.h"
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


struct DirCloser {
    void operator()(DIR *dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool isDotOrDotDot(const char *name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool lessIgnoringCase(const QString &a, const QString &b) {
    const int c = compareIgnoringCase(a, b);
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
        const QString candidate = decodeFileName(QByteArray(entry->d_name));
        if (compareIgnoringCase(candidate, name) == 0 && (best.isEmpty() || lessIgnoringCase(candidate, best)))
            best = candidate;
    }
    return best;
}

bool exists(const QByteArray &path) {
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0;
}

} // namespace

QString resolvePathIgnoringCase(const QString &path) {
    if (path.isEmpty() || exists(encodeFileName(path)))
        return path;
    const bool absolute = path.startsWith(u'/');
    const bool trailing = path.endsWith(u'/');
    QString resolved = absolute ? QStringLiteral("/") : QString();
    for (const QString &part : path.split(u'/', Qt::SkipEmptyParts)) {
        QString next = resolved.isEmpty() || resolved.endsWith(u'/') ? resolved + part : resolved + u'/' + part;
        if (part != QLatin1String(".") && part != QLatin1String("..") && !exists(encodeFileName(next))) {
            const QString found = findIgnoringCase(encodeFileName(resolved), part);
            if (found.isEmpty())
                return path;
            next = resolved.isEmpty() || resolved.endsWith(u'/') ? resolved + found : resolved + u'/' + found;
        }
        resolved = next;
    }
    return trailing && !resolved.endsWith(u'/') ? resolved + u'/' : resolved;
}

QString FolderListing::name(size_t i) const {
    const std::string_view raw = rawName(i);
    return decodeFileName(QByteArray::fromRawData(raw.data(), static_cast<qsizetype>(raw.size())));
}

std::string_view FolderListing::rawName(size_t i) const {
    return std::string_view(names_).substr(entries_[i].offset, entries_[i].length);
}

void FolderListing::path(size_t i, QByteArray &path) const {
    const std::string_view raw = rawName(i);
    path.resize(folderBytes_.size() + static_cast<qsizetype>(raw.size()));
    std::memcpy(path.data(), folderBytes_.constData(), static_cast<size_t>(folderBytes_.size()));
    std::memcpy(path.data() + folderBytes_.size(), raw.data(), raw.size());
}

FolderListing listRegularFiles(const QString &folder) {
    FolderListing listing;
    const QString resolved = resolvePathIgnoringCase(folder);
    const QByteArray path = encodeFileName(resolved);
    struct stat info {};
    if (::stat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return listing;
    DirHandle dir(::opendir(path.constData()));
    if (!dir) {
        if (errno == ENOENT || errno == ENOTDIR) // gone since the look above
            return listing;
        throw Failure(kPermissionDenied, QStringLiteral("Cannot read the folder %1: %2")
                                             .arg(resolved, QString::fromLocal8Bit(std::strerror(errno))));
    }
    listing.folder_ = resolved.endsWith(u'/') ? resolved : resolved + u'/';
    listing.folderBytes_ = encodeFileName(listing.folder_);

    std::string folded; // the names again, ASCII letters folded, to sort on
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
        const size_t length = std::strlen(entry->d_name);
        listing.entries_.push_back({static_cast<uint32_t>(listing.names_.size()), static_cast<uint32_t>(length)});
        listing.names_.append(entry->d_name, length);
        for (size_t k = 0; k < length; ++k)
            folded += foldAscii(entry->d_name[k]);
    }
    // Sorted on the folded names, then on the names as they are: the same order on every run.
    const std::string_view names(listing.names_), foldedNames(folded);
    std::sort(listing.entries_.begin(), listing.entries_.end(),
              [&](const FolderListing::Entry &a, const FolderListing::Entry &b) {
                  const int c = foldedNames.substr(a.offset, a.length).compare(foldedNames.substr(b.offset, b.length));
                  if (c != 0)
                      return c < 0;
                  return names.substr(a.offset, a.length) < names.substr(b.offset, b.length);
              });
    return listing;
}

QStringList ListFolderFiles(QString folder) {
    const FolderListing listing = listRegularFiles(folder);
    QStringList names;
    for (size_t i = 0; i < listing.size(); ++i)
        names << listing.name(i);
    if (names.isEmpty())
        names << QString();
    return names;
}

} // namespace orvantis
