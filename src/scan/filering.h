#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <vector>

struct io_uring;

namespace orvantis {

// One file's first read through the ring: what opening and reading it gave.
struct RingRead {
    size_t tag;       // as given to start()
    int result;       // the bytes read (at most the piece size), or minus the error number
    const char *data; // the bytes read; valid until the next call to collect()
};

// Opens, reads the first piece of, and closes many files of one folder at once through the
// kernel's io_uring: one call into the system starts and finishes the work of many files, and
// files not in the page cache are read in parallel. Each file takes one of `slots` slots (a
// buffer and a direct descriptor) from start to close. Use from one thread.
class FileRing {
public:
    // A ring with `slots` slots of `pieceSize` bytes, or nothing when this system offers no
    // io_uring with what the ring needs (an old kernel, or one that forbids it) or the memory
    // for it.
    static std::unique_ptr<FileRing> create(unsigned slots, size_t pieceSize) noexcept;
    // Waits for the files still in the ring, after asking the system to give up on them.
    ~FileRing();
    FileRing(const FileRing &) = delete;
    FileRing &operator=(const FileRing &) = delete;

    // Starts opening and reading the file `name` of the open folder `folderFd`, with the flags
    // of open(2), in a free slot. `name` must stay valid until the file is collected.
    void start(int folderFd, const char *name, int openFlags, size_t tag);
    bool hasFreeSlot() const { return !freeSlots_.empty(); }
    size_t busy() const { return slotCount_ - freeSlots_.size(); }

    // Sends what was started to the system, waits up to `timeout` for at least one file to be
    // closed again, and gives every file closed so far to `done`, whose slot is then free. Start
    // no file from within `done`: the slot's buffer may be the one it is reading.
    template <typename Done> void collect(std::chrono::milliseconds timeout, Done &&done) {
        for (const RingRead &read : collectFinished(timeout))
            done(read);
    }
    // Asks the system to give up on every file in the ring; they come back with an error.
    void cancelAll();

private:
    FileRing(unsigned slots, size_t pieceSize);
    const std::vector<RingRead> &collectFinished(std::chrono::milliseconds timeout);

    struct Slot {
        size_t tag = 0;
        int openResult = 0;
        int readResult = 0;
    };
    std::unique_ptr<io_uring> ring_;
    bool ringOpen_ = false;
    size_t slotCount_;
    size_t pieceSize_;
    std::vector<char> buffers_;
    std::vector<Slot> slots_;
    std::vector<unsigned> freeSlots_;
    std::vector<RingRead> finished_;
};

} // namespace orvantis
