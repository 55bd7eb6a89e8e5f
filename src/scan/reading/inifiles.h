#pragma once

#include "scan/ini/bytesource.h"
#include "scan/ini/inireader.h"
#include "scan/system/systemfiles.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <vector>

namespace orvantis {

// Errors in opening or reading a file that are the program's, never the file's: too many files
// open in the process or the system, no memory, or a descriptor of the program's own gone bad.
bool isProgramsOwnShortage(int error);

// Whether a read of a regular file that gives fewer bytes than were asked for has reached the
// file's end. On local disks it has. A FUSE daemon or a network file system may give less at any
// read, and there only a read that gives nothing ends the file.
enum class ShortReads { MayComeEarly, EndTheFile };

// How the bytes of an open file are read: the system's read, or a stand-in a test hands in.
using ReadCall = ssize_t (*)(int fd, void *buffer, size_t size);

// An open file's bytes, read with blocking calls into `buffer` as they are asked for; the file
// is closed when this goes. Only a file that gives more than one read is asked what it is, so
// that a device such as /dev/zero or a FIFO fed without end is never read on and on.
class OpenFileBytes : public ByteSource {
public:
    // `stop`, when given and set, ends the reading at the next piece.
    OpenFileBytes(int fd, std::vector<char> &buffer, const std::atomic<bool> *stop,
                  ShortReads shortReads, ReadCall read = readFile);
    ~OpenFileBytes() override;
    OpenFileBytes(const OpenFileBytes &) = delete;
    OpenFileBytes &operator=(const OpenFileBytes &) = delete;

    FileRead next(std::string_view &piece) override;
    FileRead rewind() override;

private:
    int fd_;
    std::vector<char> &buffer_;
    const std::atomic<bool> *stop_;
    ShortReads shortReads_;
    ReadCall read_;
    bool first_ = true;
    bool checked_ = false;
    bool ended_ = false;
};

// Opens a file named relative to an open folder and reads it into the lookup, on a file system
// whose short reads are as given, with `buffer` for its pieces.
FileRead readIniFileAt(IniLookup &lookup, std::vector<char> &buffer, int folderFd, const char *name,
                       const std::atomic<bool> *stop, ShortReads shortReads);
// The same for a file named by its path as stored on disk, read to the read that gives nothing.
FileRead readIniFile(IniLookup &lookup, const QByteArray &path,
                     const std::atomic<bool> *stop = nullptr);
// The same for a file the caller has opened (-1 for one that would not open), read with `read`.
FileRead readOpenedIniFile(IniLookup &lookup, int fd, const std::atomic<bool> *stop, ReadCall read,
                           ShortReads shortReads);

// The value of one key, or the empty text; the file is found by its name on disk, letter case
// ignored.
QString ReadIniValue(const QString &section, const QString &key, const QString &file);

} // namespace orvantis
