#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <vector>

struct io_uring;
struct io_uring_sqe;

namespace orvantis {

// One file's first read through the ring: what opening and reading it gave.
struct RingRead {
    size_t tag;       // as given to start()
    int result;       // the bytes read (at most the piece size), or minus the error number of
                      // the open, the read or the close, whichever failed first
    const char *data; // the bytes read; valid until the next call to collect()
};

// Calls into the ring made to fail, for tests: from the call numbered `failEntersFrom` on
// (counting from 0), every call into the system to submit or wait fails with `enterError`
// without being made, as a system that keeps refusing would have it.
struct RingFaults {
    long failEntersFrom = -1;
    int enterError = 0;
};

// Opens, reads the first piece of, and closes many files of one folder at once through the
// kernel's io_uring: one call into the system starts and finishes the work of many files, and
// files not in the page cache are read in parallel. Each file takes one of `slots` slots (a
// buffer and a direct descriptor) from start until the system has reported every step of it.
// Use from one thread.
class FileRing {
public:
    // A ring with `slotCount` slots of `pieceSize` bytes, or nothing when this system offers no
    // io_uring with what the ring needs (an old kernel, or one that forbids it) or the memory
    // or descriptors for it.
    static std::unique_ptr<FileRing> create(unsigned slotCount, size_t pieceSize,
                                            RingFaults faults = {}) noexcept;
    // Whether files of the folder open as `folderFd` may be read through a ring: only on file
    // systems known to give through io_uring exactly what a blocking read gives.
    static bool trustsFileSystemOf(int folderFd);

    // Waits for the files still in the ring, after asking the system to give up on them.
    ~FileRing();
    FileRing(const FileRing &) = delete;
    FileRing &operator=(const FileRing &) = delete;

    // Starts opening and reading the file `name` of the open folder `folderFd`, with the flags
    // of open(2), in a free slot. `name` must stay valid until the file is collected. False when
    // the ring is broken and the file was not started.
    bool start(int folderFd, const char *name, int openFlags, size_t tag);
    bool hasFreeSlot() const { return !broken_ && !freeSlots_.empty(); }
    size_t busy() const { return slotCount_ - freeSlots_.size(); }

    // Sends what was started to the system, waits up to `timeout` for at least one file to be
    // done, and gives every file done so far to `done`, whose slot is then free. Start no file
    // from within `done`: the slot's buffer may be the one it is reading.
    template <typename Done> void collect(std::chrono::milliseconds timeout, Done &&done) {
        for (const RingRead &read : collectFinished(timeout))
            done(read);
    }
    // Asks the system to give up on every file in the ring; they come back with an error.
    void cancelAll();

    // Whether the system has kept refusing the ring's calls, so that the files still in it may
    // never come back: their tags are those of inFlight(), to be read another way. A broken ring
    // starts nothing more.
    bool broken() const { return broken_; }
    std::vector<size_t> inFlight() const;

private:
    FileRing(unsigned slotCount, size_t pieceSize, RingFaults faults);
    const std::vector<RingRead> &collectFinished(std::chrono::milliseconds timeout);
    // Calls into the system to submit, and to wait for `waitFor` completions for at most
    // `timeout` when one is given; notes calls that fail.
    void enter(unsigned waitFor, std::chrono::milliseconds timeout);
    io_uring_sqe *nextRequest();

    struct Slot {
        size_t tag = 0;
        int openResult = 0;
        int readResult = 0;
        int closeResult = 0;
        unsigned stepsReported = 0;
        bool inUse = false;
    };
    std::unique_ptr<io_uring> ring_;
    bool ringOpen_ = false;
    size_t slotCount_;
    size_t pieceSize_;
    std::unique_ptr<char[]> buffers_;
    std::vector<Slot> slots_;
    std::vector<unsigned> freeSlots_;
    std::vector<RingRead> finished_; // room for every slot, so that collecting allocates nothing
    RingFaults faults_;
    long entersMade_ = 0;
    int failedEnters_ = 0; // one after another, with nothing collected between them
    bool broken_ = false;
};

} // namespace orvantis
