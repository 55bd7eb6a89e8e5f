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
#include <numeric>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace orvantis {

namespace {

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
    FolderEntries entries(directory);
    QString best;
    while (const dirent *entry = entries.next()) {
        const QString candidate = decodeFileName(QByteArray(entry->d_name));
        if (compareIgnoringCase(candidate, name) == 0 &&
            (best.isEmpty() || lessIgnoringCase(candidate, best)))
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
        QString next = resolved.isEmpty() || resolved.endsWith(u'/') ? resolved + part
                                                                     : resolved + u'/' + part;
        if (part != QLatin1String(".") && part != QLatin1String("..") &&
            !exists(encodeFileName(next))) {
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

FolderEntries::FolderEntries(const QByteArray &path)
    : dir_(::opendir(path.isEmpty() ? "." : path.constData())), error_(dir_ ? 0 : errno) {}

FolderEntries::~FolderEntries() {
    if (dir_)
        ::closedir(dir_);
}

const dirent *FolderEntries::next() {
    if (!dir_)
        return nullptr;
    while (const dirent *entry = ::readdir(dir_))
        if (!isDotOrDotDot(entry->d_name))
            return entry;
    return nullptr;
}

bool FolderEntries::isRegularFile(const dirent &entry) const {
    if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN)
        return entry.d_type == DT_REG;
    struct stat target {}; // what the link leads to, or what the file system did not say
    return ::fstatat(::dirfd(dir_), entry.d_name, &target, 0) == 0 && S_ISREG(target.st_mode);
}

namespace {

bool isFolder(const QByteArray &path) {
    struct stat info {};
    return ::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

int FolderEntries::duplicateDescriptor() const {
    return dir_ ? ::fcntl(::dirfd(dir_), F_DUPFD_CLOEXEC, 0) : -1;
}

FolderListing::FolderListing(FolderListing &&other) noexcept
    : folder_(std::move(other.folder_)), folderBytes_(std::move(other.folderBytes_)),
      names_(std::move(other.names_)), entries_(std::move(other.entries_)),
      folderFd_(std::exchange(other.folderFd_, -1)) {}

FolderListing &FolderListing::operator=(FolderListing &&other) noexcept {
    if (this != &other) {
        if (folderFd_ >= 0)
            ::close(folderFd_);
        folder_ = std::move(other.folder_);
        folderBytes_ = std::move(other.folderBytes_);
        names_ = std::move(other.names_);
        entries_ = std::move(other.entries_);
        folderFd_ = std::exchange(other.folderFd_, -1);
    }
    return *this;
}

FolderListing::~FolderListing() {
    if (folderFd_ >= 0)
        ::close(folderFd_);
}

void FolderListing::add(const char *name, size_t length) {
    entries_.push_back({static_cast<uint32_t>(names_.size()), static_cast<uint32_t>(length)});
    names_.append(name, length);
    names_ += '\0';
}

// By the names with ASCII letters folded, then by the names as they are, so that the order is
// the same on every run, also for names that differ only in letter case.
std::vector<size_t> FolderListing::nameOrder() const {
    std::string folded(names_.size(), '\0');
    std::transform(names_.begin(), names_.end(), folded.begin(),
                   [](char c) { return foldAscii(c); });
    const std::string_view names(names_), foldedNames(folded);
    std::vector<size_t> order(entries_.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::sort(order.begin(), order.end(), [&](size_t i, size_t j) {
        const Entry &a = entries_[i], &b = entries_[j];
        const int c =
            foldedNames.substr(a.offset, a.length).compare(foldedNames.substr(b.offset, b.length));
        if (c != 0)
            return c < 0;
        return names.substr(a.offset, a.length) < names.substr(b.offset, b.length);
    });
    return order;
}

void FolderListing::sortByName() {
    std::vector<Entry> sorted;
    sorted.reserve(entries_.size());
    for (size_t i : nameOrder())
        sorted.push_back(entries_[i]);
    entries_.swap(sorted);
}

FolderListing listRegularFiles(const QString &folder, ListingOrder order) {
    FolderListing listing;
    const QString resolved = resolvePathIgnoringCase(folder);
    const QByteArray path = encodeFileName(resolved);
    if (!isFolder(path))
        return listing;
    FolderEntries entries(path);
    if (!entries.isOpen()) {
        if (entries.error() == ENOENT || entries.error() == ENOTDIR) // gone since the look above
            return listing;
        throw Failure(kPermissionDenied,
                      QStringLiteral("Cannot read the folder %1: %2")
                          .arg(resolved, QString::fromLocal8Bit(std::strerror(entries.error()))));
    }
    listing.folder_ = resolved.endsWith(u'/') ? resolved : resolved + u'/';
    listing.folderBytes_ = encodeFileName(listing.folder_);
    listing.folderFd_ = entries.duplicateDescriptor();
    while (const dirent *entry = entries.next())
        if (entries.isRegularFile(*entry))
            listing.add(entry->d_name, std::strlen(entry->d_name));
    if (order == ListingOrder::ByName)
        listing.sortByName();
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
