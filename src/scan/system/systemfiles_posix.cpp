// The file system through POSIX calls, as on Linux.
#include "scan/system/folderentries.h"
#include "scan/system/systemfiles.h"

#include "scan/system/filenames.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orvantis {

const int kIniOpenFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

namespace {

bool isDotOrDotDot(const char *name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

EntryKind kindOf(const struct stat &info) {
    if (S_ISREG(info.st_mode))
        return EntryKind::RegularFile;
    return S_ISDIR(info.st_mode) ? EntryKind::Folder : EntryKind::Other;
}

FolderEntry::Type typeOf(unsigned char type) {
    switch (type) {
    case DT_REG:
        return FolderEntry::File;
    case DT_DIR:
        return FolderEntry::Folder;
    case DT_LNK:
        return FolderEntry::Link;
    case DT_UNKNOWN:
        return FolderEntry::Unknown;
    default:
        return FolderEntry::Other;
    }
}

} // namespace

struct FolderEntries::State {
    DIR *dir = nullptr;
    int error = 0;
    FolderEntry entry{};
};

FolderEntries::FolderEntries(const QByteArray &path) : state_(std::make_unique<State>()) {
    state_->dir = ::opendir(path.isEmpty() ? "." : path.constData());
    state_->error = state_->dir ? 0 : errno;
}

FolderEntries::~FolderEntries() {
    if (state_->dir)
        ::closedir(state_->dir);
}

bool FolderEntries::isOpen() const {
    return state_->dir != nullptr;
}

int FolderEntries::error() const {
    return state_->error;
}

int FolderEntries::descriptor() const {
    return state_->dir ? ::dirfd(state_->dir) : -1;
}

const FolderEntry *FolderEntries::next() {
    if (!state_->dir || state_->error != 0)
        return nullptr;
    for (;;) {
        errno = 0; // readdir gives null both at the end and on an error, which only errno tells
        const dirent *entry = ::readdir(state_->dir);
        if (!entry) {
            state_->error = errno;
            return nullptr;
        }
        if (isDotOrDotDot(entry->d_name))
            continue;
        state_->entry = {entry->d_name, std::strlen(entry->d_name), typeOf(entry->d_type), false};
        return &state_->entry;
    }
}

int openInFolder(int folderFd, const char *name) {
    return ::openat(folderFd, name, kIniOpenFlags);
}

int openPath(const QByteArray &path) {
    return ::open(path.constData(), kIniOpenFlags);
}

int openFolder(const QByteArray &path) {
    return ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

void closeFile(int fd) {
    ::close(fd);
}

ssize_t readFile(int fd, void *buffer, size_t size) {
    return ::read(fd, buffer, size);
}

int rewindFile(int fd) {
    return ::lseek(fd, 0, SEEK_SET) < 0 ? errno : 0;
}

int kindOfOpenFile(int fd, EntryKind &kind) {
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return errno;
    kind = kindOf(info);
    return 0;
}

int kindInFolder(int folderFd, const char *name, EntryKind &kind) {
    struct stat info {};
    if (::fstatat(folderFd, name, &info, 0) != 0)
        return errno;
    kind = kindOf(info);
    return 0;
}

int kindOfPath(const QByteArray &path, EntryKind &kind) {
    struct stat info {};
    if (::stat(path.constData(), &info) != 0)
        return errno;
    kind = kindOf(info);
    return 0;
}

bool entryExists(const QByteArray &path) {
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0;
}

bool isLink(const QByteArray &path) {
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0 && S_ISLNK(info.st_mode);
}

int identityOfPath(const QByteArray &path, bool followLinks, EntryIdentity &identity) {
    struct stat info {};
    if ((followLinks ? ::stat(path.constData(), &info) : ::lstat(path.constData(), &info)) != 0)
        return errno;
    identity = {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino),
                S_ISLNK(info.st_mode)};
    return 0;
}

int identityOfOpenFile(int fd, EntryIdentity &identity) {
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return errno;
    identity = {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino),
                S_ISLNK(info.st_mode)};
    return 0;
}

int linksInFolder(int folderFd, const char *name, EntryLinks &links) {
    struct stat info {};
    if (::fstatat(folderFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    links = {S_ISLNK(info.st_mode), static_cast<uint64_t>(info.st_nlink)};
    return 0;
}

QString linkTargetOf(const QByteArray &path) {
    for (size_t room = 4096; room <= 1024 * 1024; room *= 4) {
        QByteArray target(static_cast<qsizetype>(room), Qt::Uninitialized);
        const ssize_t length = ::readlink(path.constData(), target.data(), room);
        if (length < 0)
            return QString();
        if (static_cast<size_t>(length) < room) // it filled less than its room: all of it
            return decodeFileName(target.left(length));
    }
    return QString();
}

} // namespace orvantis
