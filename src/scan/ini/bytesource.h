#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orvantis {

// Files are read in pieces of this many bytes; a file that fits in one is read with one call.
constexpr size_t kFileReadPiece = 64 * 1024;

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

// One file's bytes, a piece at a time, as the INI reader asks for them: read from the file
// system as they are asked for, or already in memory (what the ring read). The INI reader
// opens, reads and closes nothing itself.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // The next piece in `piece`, left empty at the file's end. Anything but Read ends the
    // reading, and nothing read counts.
    virtual FileRead next(std::string_view &piece) = 0;
    // Back to the first byte, for a second pass over the file.
    virtual FileRead rewind() = 0;
};

// Bytes already in memory, handed out in pieces of kFileReadPiece, as a file's would be.
class MemoryBytes : public ByteSource {
public:
    MemoryBytes(const char *data, size_t size) : data_(data), size_(size) {}
    FileRead next(std::string_view &piece) override {
        const size_t length = std::min(kFileReadPiece, size_ - at_);
        piece = std::string_view(data_ + at_, length);
        at_ += length;
        return {};
    }
    FileRead rewind() override {
        at_ = 0;
        return {};
    }

private:
    const char *data_;
    size_t size_;
    size_t at_ = 0;
};

} // namespace orvantis
