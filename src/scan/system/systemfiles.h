#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace orvantis {

// The few calls into the file system that the scan makes, with one implementation for each
// system: POSIX (Linux) and Win32. Names and paths are bytes as FolderEntries lists them (on
// Windows, the UTF-16 names as UTF-8); failures are errno values on both, so that the scan's
// rules for them read the same.

// The kind of entry a name leads to, links followed.
enum class EntryKind { RegularFile, Folder, Other };

// One entry of a folder as the folder tells it, links not followed.
struct FolderEntry {
    enum Type { File, Folder, Link, Unknown, Other };
    const char *name; // NUL-terminated; valid until the next entry is read
    size_t length;
    Type type;
    bool hiddenOrSystem; // marked hidden or system (Windows); never on Linux
};

// The flags files are opened for reading with: non-blocking on POSIX, so that a FIFO named like
// a file cannot hold the reader.
extern const int kIniOpenFlags;

// Opens the file `name` of the open folder `folderFd` for reading, relative to it, so that the
// folder's path is not walked again: a descriptor, or -1 with errno set.
int openInFolder(int folderFd, const char *name);
// Opens the file at `path` for reading: a descriptor, or -1 with errno set.
int openPath(const QByteArray &path);
// Opens the folder at `path`, as a descriptor files open relative to; -1 with errno set.
int openFolder(const QByteArray &path);
void closeFile(int fd);
// Reads up to `size` bytes: how many, 0 at the end, -1 with errno set.
ssize_t readFile(int fd, void *buffer, size_t size);
// Back to the file's first byte: 0, or an errno value.
int rewindFile(int fd);

// What an open file, a name in an open folder or a path leads to: 0 with `kind` set, or an
// errno value (ENOENT for nothing there, ELOOP for a loop of links).
int kindOfOpenFile(int fd, EntryKind &kind);
int kindInFolder(int folderFd, const char *name, EntryKind &kind);
int kindOfPath(const QByteArray &path, EntryKind &kind);
// Whether anything has the name at `path`, a link to nowhere too.
bool entryExists(const QByteArray &path);
// Whether the path names a link (a symbolic link, or a reparse point on Windows).
bool isLink(const QByteArray &path);
// Where a link leads, read whole; the empty text when that cannot be read.
QString linkTargetOf(const QByteArray &path);

// Which entry a path names, as the system tells it from every other: its device (or volume) and
// its number there, and whether it is a link. With `followLinks` false, a link names itself.
struct EntryIdentity {
    uint64_t device = 0;
    uint64_t number = 0;
    bool link = false;
    bool operator==(const EntryIdentity &other) const {
        return device == other.device && number == other.number && link == other.link;
    }
};
// 0 with `identity` set, or an errno value.
int identityOfPath(const QByteArray &path, bool followLinks, EntryIdentity &identity);
int identityOfOpenFile(int fd, EntryIdentity &identity);

// Whether the name `name` in the open folder is a symbolic link, and how many names the file it
// names has (a hard link's other names, in this folder or elsewhere): 0, or an errno value.
struct EntryLinks {
    bool symbolic = false;
    uint64_t names = 1;
};
int linksInFolder(int folderFd, const char *name, EntryLinks &links);

} // namespace orvantis
