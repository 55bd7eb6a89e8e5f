#include "scan/filering.h"

#include <liburing.h>

#include <fcntl.h>

#include <new>

namespace orvantis {

namespace {

// Each file is three linked requests, told apart by their user data: slot * 3 + step.
enum Step : uint64_t { kOpen, kRead, kClose, kSteps };
constexpr uint64_t kCancelRequest = ~uint64_t{0};

bool offersWhatTheRingNeeds(io_uring &ring) {
    if (!(ring.features & IORING_FEAT_EXT_ARG)) // waiting with a timeout
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

// The next request to fill in; the queue holds every request of every slot, so it only runs
// short when cancelAll() comes on top of a full ring, and then sending what is queued frees it.
io_uring_sqe *nextRequest(io_uring &ring) {
    io_uring_sqe *request = io_uring_get_sqe(&ring);
    if (!request) {
        io_uring_submit(&ring);
        request = io_uring_get_sqe(&ring);
    }
    return request;
}

} // namespace

std::unique_ptr<FileRing> FileRing::create(unsigned slots, size_t pieceSize) noexcept {
    if (slots == 0)
        return nullptr;
    try {
        std::unique_ptr<FileRing> fileRing(new FileRing(slots, pieceSize));
        io_uring &ring = *fileRing->ring_;
        if (io_uring_queue_init(slots * kSteps + 1, &ring, 0) != 0)
            return nullptr;
        fileRing->ringOpen_ = true;
        if (!offersWhatTheRingNeeds(ring) || io_uring_register_files_sparse(&ring, slots) != 0)
            return nullptr;
        return fileRing;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

FileRing::FileRing(unsigned slots, size_t pieceSize)
    : ring_(std::make_unique<io_uring>()), slotCount_(slots), pieceSize_(pieceSize),
      buffers_(slots * pieceSize), slots_(slots) {
    for (unsigned s = slots; s-- > 0;)
        freeSlots_.push_back(s);
}

FileRing::~FileRing() {
    if (!ringOpen_)
        return;
    // The system may still write into the buffers until each file is collected.
    if (busy() > 0) {
        cancelAll();
        while (busy() > 0)
            collect(std::chrono::milliseconds(100), [](const RingRead &) {});
    }
    io_uring_queue_exit(ring_.get());
}

void FileRing::start(int folderFd, const char *name, int openFlags, size_t tag) {
    const unsigned slot = freeSlots_.back();
    freeSlots_.pop_back();
    slots_[slot] = Slot{tag, 0, 0};
    const uint64_t base = uint64_t{slot} * kSteps;
    io_uring &ring = *ring_;

    // Hard links: the read and the close run whatever the step before gave, so the slot's
    // descriptor is always closed and every step reports back.
    io_uring_sqe *open = nextRequest(ring);
    // A direct descriptor is never the process's own, so close-on-exec has no meaning (and is
    // refused).
    io_uring_prep_openat_direct(open, folderFd, name, openFlags & ~O_CLOEXEC, 0, slot);
    open->flags |= IOSQE_IO_HARDLINK;
    io_uring_sqe_set_data64(open, base + kOpen);

    io_uring_sqe *read = nextRequest(ring);
    io_uring_prep_read(read, static_cast<int>(slot), buffers_.data() + slot * pieceSize_,
                       static_cast<unsigned>(pieceSize_), 0);
    read->flags |= IOSQE_FIXED_FILE | IOSQE_IO_HARDLINK;
    io_uring_sqe_set_data64(read, base + kRead);

    io_uring_sqe *close = nextRequest(ring);
    io_uring_prep_close_direct(close, slot);
    io_uring_sqe_set_data64(close, base + kClose);
}

void FileRing::cancelAll() {
    io_uring_sqe *cancel = nextRequest(*ring_);
    io_uring_prep_cancel64(cancel, 0, IORING_ASYNC_CANCEL_ANY);
    io_uring_sqe_set_data64(cancel, kCancelRequest);
    io_uring_submit(ring_.get());
}

const std::vector<RingRead> &FileRing::collectFinished(std::chrono::milliseconds timeout) {
    finished_.clear();
    io_uring &ring = *ring_;
    __kernel_timespec wait{};
    wait.tv_sec = timeout.count() / 1000;
    wait.tv_nsec = (timeout.count() % 1000) * 1000000;
    io_uring_cqe *first = nullptr;
    io_uring_submit_and_wait_timeout(&ring, &first, 1, &wait, nullptr); // -ETIME or -EINTR: none

    unsigned head, seen = 0;
    io_uring_cqe *completion;
    io_uring_for_each_cqe(&ring, head, completion) {
        ++seen;
        const uint64_t data = io_uring_cqe_get_data64(completion);
        if (data == kCancelRequest)
            continue;
        const auto slot = static_cast<unsigned>(data / kSteps);
        Slot &state = slots_[slot];
        switch (data % kSteps) {
        case kOpen:
            state.openResult = completion->res;
            break;
        case kRead:
            state.readResult = completion->res;
            break;
        default: // closed: the file is done and its slot free
            finished_.push_back({state.tag,
                                 state.openResult < 0 ? state.openResult : state.readResult,
                                 buffers_.data() + slot * pieceSize_});
            freeSlots_.push_back(slot);
        }
    }
    io_uring_cq_advance(&ring, seen);
    return finished_;
}

} // namespace orvantis
