#include "scan/reading/inifiles.h"

#include "scan/system/filenames.h"
#include "scan/system/pathignoringcase.h"

#include <cerrno>

namespace orvantis {

namespace {

// What an error number from opening a file says of it: no such file, or no regular file that
// could be read (a folder, a socket, a FIFO without a writer, a loop of links), or a failure.
FileRead openFailure(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR: // the folder was replaced by a file
        return {FileRead::Missing, error};
    case EISDIR:
    case ELOOP:
    case ENXIO: // a socket, or a device without its driver
    case ENODEV:
        return {FileRead::NotAFile, error};
    default:
        return {FileRead::Failed, error};
    }
}

// A read of `fd` failed with `error`: a FIFO with nothing in it, a folder, or a file that exists
// and could not be read.
FileRead readFailure(int fd, int error) {
    EntryKind kind{};
    if (kindOfOpenFile(fd, kind) == 0 && kind != EntryKind::RegularFile)
        return {FileRead::NotAFile, error};
    return {FileRead::Failed, error};
}

// Reads a file just opened into the lookup; `fd` is -1 when opening it failed with `openError`.
FileRead readOpened(IniLookup &lookup, std::vector<char> &buffer, int fd, int openError,
                    const std::atomic<bool> *stop, ShortReads shortReads, ReadCall read) {
    if (fd < 0) {
        lookup.clear();
        return openFailure(openError);
    }
    OpenFileBytes bytes(fd, buffer, stop, shortReads, read);
    return lookup.read(bytes);
}

} // namespace

bool isProgramsOwnShortage(int error) {
    return error == EMFILE || error == ENFILE || error == ENOMEM || error == EBADF;
}

OpenFileBytes::OpenFileBytes(int fd, std::vector<char> &buffer, const std::atomic<bool> *stop,
                             ShortReads shortReads, ReadCall read)
    : fd_(fd), buffer_(buffer), stop_(stop), shortReads_(shortReads), read_(read) {
    if (buffer_.size() < kFileReadPiece)
        buffer_.resize(kFileReadPiece);
}

OpenFileBytes::~OpenFileBytes() {
    closeFile(fd_);
}

FileRead OpenFileBytes::next(std::string_view &piece) {
    piece = {};
    if (ended_)
        return {};
    for (;;) {
        if (stop_ && stop_->load(std::memory_order_relaxed))
            return {FileRead::Stopped, 0};
        const ssize_t got = read_(fd_, buffer_.data(), buffer_.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return readFailure(fd_, errno);
        if (got == 0)
            return {};
        if (!checked_ && (!first_ || static_cast<size_t>(got) == buffer_.size())) {
            EntryKind kind{};
            if (const int error = kindOfOpenFile(fd_, kind))
                return {FileRead::Failed, error};
            if (kind != EntryKind::RegularFile)
                return {FileRead::NotAFile, 0};
            checked_ = true;
        }
        piece = std::string_view(buffer_.data(), static_cast<size_t>(got));
        // Account files fit in one read. On a local disk a first read that does not fill the
        // buffer has the whole file, so the read that would only say "end" is spared (a third
        // of a scan's calls into the system).
        ended_ = first_ && static_cast<size_t>(got) < buffer_.size() &&
                 shortReads_ == ShortReads::EndTheFile;
        first_ = false;
        return {};
    }
}

FileRead OpenFileBytes::rewind() {
    if (const int error = rewindFile(fd_))
        return {FileRead::Failed, error};
    first_ = true;
    ended_ = false;
    return {};
}

FileRead readIniFileAt(IniLookup &lookup, std::vector<char> &buffer, int folderFd, const char *name,
                       const std::atomic<bool> *stop, ShortReads shortReads) {
    const int fd = openInFolder(folderFd, name);
    return readOpened(lookup, buffer, fd, fd < 0 ? errno : 0, stop, shortReads, readFile);
}

FileRead readIniFile(IniLookup &lookup, const QByteArray &path, const std::atomic<bool> *stop) {
    std::vector<char> buffer;
    const int fd = openPath(path);
    return readOpened(lookup, buffer, fd, fd < 0 ? errno : 0, stop, ShortReads::MayComeEarly,
                      readFile);
}

FileRead readOpenedIniFile(IniLookup &lookup, int fd, const std::atomic<bool> *stop, ReadCall read,
                           ShortReads shortReads) {
    std::vector<char> buffer;
    return readOpened(lookup, buffer, fd, fd < 0 ? EBADF : 0, stop, shortReads, read);
}

QString ReadIniValue(const QString &section, const QString &key, const QString &file) {
    IniLookup lookup({{section, key}});
    readIniFile(lookup, encodeFileName(resolvePathIgnoringCase(file)));
    return lookup.value(0);
}

} // namespace orvantis
