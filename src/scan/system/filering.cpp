#include "scan/system/filering.h"

#include <liburing.h>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>

#include <cerrno>
#include <mutex>
#include <new>
#include <thread>

namespace orvantis {

namespace {

// Each file is three linked requests, told apart by their user data: slot * 3 + step.
enum Step : uint64_t { kOpen, kRead, kClose, kSteps };
constexpr uint64_t kCancelRequest = ~uint64_t{0};
// Room in the queue for one cancel request besides every slot's, and one more from the
// destructor's.
constexpr unsigned kCancelRoom = 2;
// Calls into the system refused one after another, with nothing coming back meanwhile, before the
// ring is given up on: a second's worth, where a refusal that says "busy" waits a millisecond.
constexpr int kMostFailedEnters = 1000;

// The ring relies on: waiting with a timeout (IORING_FEAT_EXT_ARG); a linked read whose fixed
// file is looked up when it runs, after the open before it has filled the slot
// (IORING_FEAT_LINKED_FILE); the four operations; and sparse file registration (checked by
// create(), which fails without it). Cancelling with IORING_ASYNC_CANCEL_ANY came with the same
// kernel (5.19) as sparse registration, so where registration works, so does cancelAll().
bool offersWhatTheRingNeeds(io_uring &ring) {
    if (!(ring.features & IORING_FEAT_EXT_ARG) || !(ring.features & IORING_FEAT_LINKED_FILE))
        return false;
    io_uring_probe *probe = io_uring_get_probe_ring(&ring);
    if (!probe)
        return false;
    bool offered = true;
    for (int op : {IORING_OP_OPENAT, IORING_OP_READ, IORING_OP_CLOSE, IORING_OP_ASYNC_CANCEL})
        offered = offered && io_uring_opcode_supported(probe, op);
    io_uring_free_probe(probe);
    return offered;
}

bool isTransient(int error) {
    return error == EINTR || error == EAGAIN || error == EBUSY;
}

// Buffers of rings given up on while the system may still write into them: kept for the rest of
// the program's life rather than handed back to the allocator.
void abandon(std::unique_ptr<char[]> buffers) {
    static std::mutex lock;
    static std::vector<std::unique_ptr<char[]>> abandoned;
    const std::lock_guard<std::mutex> guard(lock);
    try {
        abandoned.push_back(std::move(buffers));
    } catch (const std::bad_alloc &) {
        (void)buffers.release(); // no room to keep it: leak it, which is safe
    }
}

// liburing maps and unmaps a ring's shared memory with system calls of its own, which
// ThreadSanitizer does not see: a ring mapped where another thread's closed ring was looks to it
// like memory both threads wrote without order. Mapping and unmapping under one lock gives it the
// order the system kept; rings are made once per reading thread, so the lock costs nothing.
std::mutex &ringMappingLock() {
    static std::mutex lock;
    return lock;
}

} // namespace

std::unique_ptr<FileRing> FileRing::create(unsigned slotCount, size_t pieceSize,
                                           RingFaults faults) noexcept {
    if (slotCount == 0)
        return nullptr;
    try {
        std::unique_ptr<FileRing> fileRing(new FileRing(slotCount, pieceSize, faults));
        io_uring &ring = *fileRing->ring_;
        {
            const std::lock_guard<std::mutex> mapping(ringMappingLock());
            if (io_uring_queue_init(slotCount * kSteps + kCancelRoom, &ring, 0) != 0)
                return nullptr;
        }
        fileRing->ringOpen_ = true;
        if (!offersWhatTheRingNeeds(ring) || io_uring_register_files_sparse(&ring, slotCount) != 0)
            return nullptr;
        return fileRing;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

// Local file systems whose reads through io_uring have been seen to equal blocking reads. Others
// are read the blocking way: a FUSE mount with direct I/O, for one, has been seen to give a ring
// read more bytes than the file holds, its own repeated.
bool FileRing::trustsFileSystemOf(int folderFd) {
    struct statfs info {};
    if (::fstatfs(folderFd, &info) != 0)
        return false;
    switch (static_cast<unsigned long>(info.f_type)) {
    case EXT4_SUPER_MAGIC: // ext2, ext3 and ext4
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case F2FS_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case OVERLAYFS_SUPER_MAGIC: // containers' root, reading through to one of the above
        return true;
    default:
        return false;
    }
}

FileRing::FileRing(unsigned slotCount, size_t pieceSize, RingFaults faults)
    : ring_(std::make_unique<io_uring>()), slotCount_(slotCount), pieceSize_(pieceSize),
      buffers_(new char[slotCount * pieceSize]), slots_(slotCount), faults_(faults) {
    freeSlots_.reserve(slotCount);
    for (unsigned s = slotCount; s-- > 0;)
        freeSlots_.push_back(s);
    finished_.reserve(slotCount);
}

FileRing::~FileRing() {
    if (!ringOpen_)
        return;
    // The system may still write into the buffers until each file has been reported.
    if (busy() > 0 && !broken_) {
        cancelAll();
        while (busy() > 0 && !broken_)
            collect(std::chrono::milliseconds(100), [](const RingRead &) {});
    }
    if (busy() > 0) // a broken ring: what it still holds may never be reported
        abandon(std::move(buffers_));
    const std::lock_guard<std::mutex> mapping(ringMappingLock());
    io_uring_queue_exit(ring_.get());
}

void FileRing::enter(unsigned waitFor, std::chrono::milliseconds timeout) {
    io_uring &ring = *ring_;
    int result;
    if (faults_.failEntersFrom >= 0 && entersMade_ >= faults_.failEntersFrom) {
        result = -faults_.enterError;
    } else if (waitFor == 0) {
        result = io_uring_submit(&ring);
    } else {
        __kernel_timespec wait{};
        wait.tv_sec = timeout.count() / 1000;
        wait.tv_nsec = (timeout.count() % 1000) * 1000000;
        io_uring_cqe *first = nullptr;
        result = io_uring_submit_and_wait_timeout(&ring, &first, waitFor, &wait, nullptr);
    }
    ++entersMade_;
    if (result >= 0 || result == -ETIME) { // -ETIME: nothing came back in time
        failedEnters_ = 0;
        return;
    }
    if (!isTransient(-result) || ++failedEnters_ >= kMostFailedEnters)
        broken_ = true;
    else if (result != -EINTR)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// The next request to fill in. The queue has room for every request of every slot and for the
// cancels; when the system has not taken what is queued, sending it makes room.
io_uring_sqe *FileRing::nextRequest() {
    io_uring_sqe *request = io_uring_get_sqe(ring_.get());
    if (!request && !broken_) {
        enter(0, {});
        request = io_uring_get_sqe(ring_.get());
    }
    return request;
}

bool FileRing::start(int folderFd, const char *name, int openFlags, size_t tag) {
    io_uring &ring = *ring_;
    if (broken_ || freeSlots_.empty())
        return false;
    if (io_uring_sq_space_left(&ring) < kSteps)
        enter(0, {});
    if (broken_ || io_uring_sq_space_left(&ring) < kSteps)
        return false;
    const unsigned slot = freeSlots_.back();
    freeSlots_.pop_back();
    slots_[slot] = Slot{tag, 0, 0, 0, 0, true};
    const uint64_t base = uint64_t{slot} * kSteps;

    // Hard links: the read and the close run whatever the step before gave, so the slot's
    // descriptor is always closed and every step reports back.
    io_uring_sqe *open = io_uring_get_sqe(&ring);
    // A direct descriptor is never the process's own, so close-on-exec has no meaning (and is
    // refused).
    io_uring_prep_openat_direct(open, folderFd, name, openFlags & ~O_CLOEXEC, 0, slot);
    open->flags |= IOSQE_IO_HARDLINK;
    io_uring_sqe_set_data64(open, base + kOpen);

    io_uring_sqe *read = io_uring_get_sqe(&ring);
    io_uring_prep_read(read, static_cast<int>(slot), buffers_.get() + slot * pieceSize_,
                       static_cast<unsigned>(pieceSize_), 0);
    read->flags |= IOSQE_FIXED_FILE | IOSQE_IO_HARDLINK;
    io_uring_sqe_set_data64(read, base + kRead);

    io_uring_sqe *close = io_uring_get_sqe(&ring);
    io_uring_prep_close_direct(close, slot);
    io_uring_sqe_set_data64(close, base + kClose);
    return true;
}

void FileRing::cancelAll() {
    io_uring_sqe *cancel = nextRequest();
    if (!cancel)
        return;
    io_uring_prep_cancel64(cancel, 0, IORING_ASYNC_CANCEL_ANY);
    io_uring_sqe_set_data64(cancel, kCancelRequest);
    enter(0, {});
}

std::vector<size_t> FileRing::inFlight() const {
    std::vector<size_t> tags;
    for (const Slot &slot : slots_)
        if (slot.inUse)
            tags.push_back(slot.tag);
    return tags;
}

const std::vector<RingRead> &FileRing::collectFinished(std::chrono::milliseconds timeout) {
    finished_.clear();
    if (!broken_)
        enter(1, timeout);

    // Nothing below allocates or throws between taking a completion and moving past it:
    // finished_ and freeSlots_ have room for every slot.
    io_uring &ring = *ring_;
    unsigned head, seen = 0;
    io_uring_cqe *completion;
    io_uring_for_each_cqe(&ring, head, completion) {
        ++seen;
        const uint64_t data = io_uring_cqe_get_data64(completion);
        if (data == kCancelRequest)
            continue;
        const auto slot = static_cast<unsigned>(data / kSteps);
        Slot &state = slots_[slot];
        if (data % kSteps == kOpen)
            state.openResult = completion->res;
        else if (data % kSteps == kRead)
            state.readResult = completion->res;
        else
            state.closeResult = completion->res;
        // A slot is done once all three of its steps have reported, in whatever order: should
        // the system take the close apart from the read before it, the close may report while
        // the read still fills the slot's buffer.
        if (++state.stepsReported < kSteps)
            continue;
        // A close that failed may have lost what was read, as a read that failed has.
        const int result = state.openResult < 0    ? state.openResult
                           : state.readResult < 0  ? state.readResult
                           : state.closeResult < 0 ? state.closeResult
                                                   : state.readResult;
        finished_.push_back({state.tag, result, buffers_.get() + slot * pieceSize_});
        state.inUse = false;
        freeSlots_.push_back(slot);
    }
    io_uring_cq_advance(&ring, seen);
    if (seen > 0)
        failedEnters_ = 0;
    return finished_;
}

} // namespace orvantis
