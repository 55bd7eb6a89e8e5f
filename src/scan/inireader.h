#pragma once

#include <QString>
#include <QStringList>

#include <fcntl.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace orvantis {

// Files are read in pieces of this many bytes; a file that fits in one is read with one call.
constexpr size_t kFileReadPiece = 64 * 1024;

// How files are opened for reading: non-blocking, so that a FIFO named like a file cannot hold
// the reader.
constexpr int kIniOpenFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

// The longest value the reader returns, in characters.
constexpr int kMaxIniValueLength = 254;

// How reading a file ended. A missing file and anything that is not a regular file read as
// empty, as the INI conventions have it; a file that exists and could not be opened or read
// reads as empty too, but says why, so that it is not taken for an empty one.
struct FileRead {
    enum Outcome : uint8_t {
        Read,     // the values are the file's
        Missing,  // no such file (any more)
        NotAFile, // a folder, a device, a FIFO, a socket, a loop of links
        Failed,   // `error` (an errno value) kept it from being opened or read
        Stopped,  // given up when asked to stop; nothing read counts
    };
    Outcome outcome = Read;
    int error = 0;
};

// Whether a read of a regular file that gives fewer bytes than were asked for has reached the
// file's end. On local disks it has. A FUSE daemon or a network file system may give less at any
// read, and there only a read that gives nothing ends the file.
enum class ShortReads { MayComeEarly, EndTheFile };

// How the bytes of an open file are read: read(2), or a stand-in a test hands in.
using ReadCall = ssize_t (*)(int fd, void *buffer, size_t size);

// A section and key name to look up.
struct IniName {
    QString section;
    QString key;
};

// Reads the values of several names from one INI file in a single pass, with the conventions
// of classic desktop INI files:
// - UTF-8 when the file starts with a byte-order mark, or is valid UTF-8 holding a non-ASCII
//   byte; Windows-1252 otherwise.
// - CR, LF and CRLF end a line; blanks (space, tab, vertical tab) at either end of a line are
//   ignored, and so are empty lines and lines starting with ";".
// - "[name]" opens a section (to the line's end when there is no "]"); "key = value" lines
//   belong to the last section opened; a line without "=" is ignored. A value enclosed in a
//   pair of the same quote character (" or ') loses them. A value ends at a NUL byte.
// - Names match without regard to ASCII letter case. Only the first section of a name is
//   looked in, and in it the first key of a name wins.
// - Values are cut to their first kMaxIniValueLength characters.
// A missing or unreadable file, and anything that is not a regular file, gives empty values at
// once, and the reading says which it was. Memory stays bounded whatever the file's size or line
// length.
class IniLookup {
public:
    explicit IniLookup(const std::vector<IniName> &names);
    ~IniLookup();
    IniLookup(const IniLookup &) = delete;
    IniLookup &operator=(const IniLookup &) = delete;

    // Reads a file, named by its path as stored on disk, for the values of every name, to the
    // read that gives nothing. When `stop` is given and becomes true, reading ends at the next
    // piece and nothing read counts.
    FileRead readFile(const QByteArray &path, const std::atomic<bool> *stop = nullptr);
    // The same for a file named relative to an open folder, on a file system whose short reads
    // are as given.
    FileRead readFileAt(int folderFd, const char *name, const std::atomic<bool> *stop = nullptr,
                        ShortReads shortReads = ShortReads::MayComeEarly);
    // The same for a file the caller has opened, read with `readCall`; closes it.
    FileRead readOpenedFile(int fd, const std::atomic<bool> *stop, ReadCall readCall,
                            ShortReads shortReads);
    // Reads the same from the bytes of a file already in memory.
    void readBytes(const char *data, size_t size);
    // The value of the name at `index` in the last file read; the empty text when it was not
    // there.
    QString value(size_t index) const;
    // The same value without decoding when it is plain ASCII (as levels are); nothing otherwise.
    std::optional<std::string_view> asciiValue(size_t index) const;

    // Reads a file and gives one value per name, in the order given.
    QStringList read(const QString &file);

private:
    struct EncodedNames;
    struct Parser;
    // Decides a file's encoding before its names are matched; needed for non-ASCII names only.
    FileRead sniffEncoding(int fd, const std::atomic<bool> *stop, ReadCall read,
                           ShortReads shortReads);
    FileRead readOpenFile(int fd, int openError, const std::atomic<bool> *stop, ReadCall read,
                          ShortReads shortReads);
    std::vector<IniName> names_;
    bool asciiNames_;
    std::unique_ptr<EncodedNames> utf8Names_, windows1252Names_;
    std::unique_ptr<Parser> parser_;
    std::vector<char> buffer_;
};

// The value of one key, or the empty text; the file is opened by its name on disk.
QString ReadIniValue(const QString &section, const QString &key, const QString &file);

} // namespace orvantis
