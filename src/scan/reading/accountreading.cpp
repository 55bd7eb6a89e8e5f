#include "scan/reading/accountreading.h"

#include "platform/failure.h"
#include "scan/reading/inifiles.h"
#include "scan/system/filenames.h"
#include "scan/system/readerthreads.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

namespace orvantis {

namespace {

// What a reading thread parses files with: the lookup, a buffer for the pieces of the files it
// reads the blocking way, and what it has made of them.
struct FileParsing {
    explicit FileParsing(uint16_t textBlock) : block(textBlock) {}
    IniLookup lookup{accountFileKeys()};
    std::vector<char> buffer;
    uint16_t block; // its text's place among the scan's blocks
    ThreadRecords made;
};

// Makes the record and the characters of the account file at `place`, just read into the
// lookup, on the thread that read it.
FileOutcome makeAccount(FileParsing &parsing, uint32_t place, AccountCharacters &characters) {
    const AccountFile file = parseAccountFile(parsing.lookup);
    if (file.outcome != FileOutcome::Row)
        return file.outcome;
    QString &text = parsing.made.text;
    if (text.size() + 5 * qsizetype{kMaxIniValueLength} > qsizetype{UINT32_MAX})
        throw Failure(kOutOfMemory, QStringLiteral("Too many logins and names to keep"));
    const auto start = static_cast<uint32_t>(text.size());
    text += file.login;
    text += file.name;
    const auto namesStart = static_cast<uint32_t>(text.size());
    std::array<uint8_t, 3> nameLengths{};
    for (size_t slot = 0; slot < 3; ++slot) {
        text += file.names[slot];
        nameLengths[slot] = static_cast<uint8_t>(file.names[slot].size()); // at most 254
    }
    parsing.made.records.push_back({place, file.level, start, parsing.block,
                                    static_cast<uint8_t>(file.login.size()),
                                    static_cast<uint8_t>(file.name.size()), file.slot});
    characters.set(place, file.levels, parsing.block, namesStart, nameLengths);
    return FileOutcome::Row;
}

// Account files read by several threads at once: what they share. Each thread takes a few files
// at a time, in listing order, and stores each file's outcome at the file's place, so the
// outcomes are indexed like the listing whichever thread read what, and when; a file that is no
// account file keeps the outcome "no row". A file that the program lacked the descriptors or the
// memory for is put off, and read again at the end, when no other read is in flight.
class AccountReading {
public:
    AccountReading(const FolderListing &listing, const std::vector<size_t> &positions,
                   const ScanSettings &settings, ScanProgress &progress, ShortReads shortReads,
                   AccountCharacters &characters)
        : listing_(listing), positions_(positions), settings_(settings), progress_(progress),
          shortReads_(shortReads), characters_(characters), outcomes_(listing.size()) {}

    // Reads files on this thread until none are left, the scan is stopped or a read failed:
    // through the ring when there is one, else with blocking reads.
    void readOnThisThread(std::unique_ptr<FileRing> ring) noexcept {
        readers_.fetch_add(1);
        guarded([&] {
            FileParsing parsing(newBlock());
            Take take;
            if (ring)
                readThroughRing(parsing, *ring, take);
            readOneByOne(parsing, take);
            keep(parsing);
        });
        readers_.fetch_sub(1);
    }

    // Runs `work`, keeping what it raises as the failure of the reading, which then ends.
    template <typename Work> void guarded(Work &&work) noexcept {
        if (std::optional<ScanFailure> failure = failureOf(work))
            fail(std::move(*failure));
    }

    // Once every thread is done: reads the files put off, one at a time. A file that still
    // cannot be opened for want of descriptors or memory fails the scan: it is never left out.
    void readPutOffFiles() {
        guarded([&] {
            std::sort(putOff_.begin(), putOff_.end());
            FileParsing parsing(newBlock());
            for (size_t k : putOff_) {
                if (!goingOn())
                    return;
                const FileRead read = readBlocking(parsing, k);
                if (read.outcome == FileRead::Failed && isProgramsOwnShortage(read.error)) {
                    QByteArray path;
                    listing_.path(positions_[k], path);
                    fail(systemScanFailure(ScanFailure::FileUnopenable, read.error,
                                           decodeFileName(path),
                                           QStringLiteral("Cannot open the account file %1, even "
                                                          "with no other account file open")
                                               .arg(listing_.name(positions_[k]))));
                    return;
                }
                finish(parsing, k, read);
            }
            putOff_.clear();
            keep(parsing);
        });
    }

    // Once every thread is done: the outcomes, indexed like the listing, and what each thread
    // made, by its block; or the failure or the stop that ended the reading.
    AccountFilesRead take() {
        AccountFilesRead read;
        read.readThroughRing = readThroughRing_.load();
        if (failure_)
            read.failure = std::move(failure_);
        else if (progress_.stop)
            read.stopped = true;
        else
            read.outcomes = std::move(outcomes_), read.made = std::move(made_);
        return read;
    }

    size_t takes() const { return (positions_.size() + kFilesPerTake - 1) / kFilesPerTake; }

private:
    static constexpr size_t kFilesPerTake = 16;

    void fail(ScanFailure failure) {
        const std::lock_guard<std::mutex> lock(lock_);
        if (!failure_)
            failure_ = std::move(failure);
        failed_ = true;
    }

    uint16_t newBlock() {
        const std::lock_guard<std::mutex> lock(lock_);
        if (made_.size() >= UINT16_MAX)
            throw Failure(kOutOfMemory, QStringLiteral("Too many reading threads"));
        made_.emplace_back();
        return static_cast<uint16_t>(made_.size() - 1);
    }
    // What a thread has made, kept once it is done reading.
    void keep(FileParsing &parsing) {
        const std::lock_guard<std::mutex> lock(lock_);
        made_[parsing.block] = std::move(parsing.made);
    }

    bool goingOn() const {
        return !progress_.stop.load(std::memory_order_relaxed) &&
               !failed_.load(std::memory_order_relaxed);
    }

    // The place of the next file for this thread, from its current take or a new one.
    struct Take {
        size_t next = 0, end = 0;
    };
    bool nextFile(Take &take, size_t &k) {
        if (take.next >= take.end) {
            take.next = next_.fetch_add(kFilesPerTake, std::memory_order_relaxed);
            take.end = std::min(positions_.size(), take.next + kFilesPerTake);
            if (take.next >= take.end)
                return false;
        }
        k = take.next++;
        return true;
    }

    const char *nameOf(size_t k) const { return listing_.rawName(positions_[k]).data(); }

    FileRead readBlocking(FileParsing &parsing, size_t k) {
        if (!settings_.reader) // relative to the folder as listed: no path to walk again
            return readIniFileAt(parsing.lookup, parsing.buffer, listing_.folderDescriptor(),
                                 nameOf(k), &progress_.stop, shortReads_);
        QByteArray path;
        listing_.path(positions_[k], path);
        return settings_.reader(parsing.lookup, path, progress_.stop);
    }

    // Keeps what reading the file at `k` came to; false when the file was put off, for want of
    // descriptors or memory. A read given up for a stop counts for nothing.
    bool finish(FileParsing &parsing, size_t k, const FileRead &read) {
        if (read.outcome == FileRead::Stopped)
            return true;
        if (read.outcome == FileRead::Failed && isProgramsOwnShortage(read.error)) {
            putOff(k);
            return false;
        }
        const auto place = static_cast<uint32_t>(positions_[k]);
        AccountOutcome &outcome = outcomes_[place];
        if (read.outcome == FileRead::Failed)
            outcome = {FileOutcome::Unreadable, read.error};
        else
            outcome = {makeAccount(parsing, place, characters_), 0};
        progress_.filesRead.fetch_add(1, std::memory_order_relaxed);
        return true;
    }

    void putOff(size_t k) {
        const std::lock_guard<std::mutex> lock(lock_);
        putOff_.push_back(k);
    }

    // Whether this thread may stop reading because the program ran short: while another reader
    // goes on, it does, so that fewer reads are in flight.
    bool leaveToOthers() {
        for (int readers = readers_.load(); readers > 1;)
            if (readers_.compare_exchange_weak(readers, readers - 1))
                return true;
        return false;
    }

    // One blocking open, read and close after another, from the rest of `take` on.
    void readOneByOne(FileParsing &parsing, Take &take) {
        for (size_t k; goingOn() && nextFile(take, k);) {
            if (finish(parsing, k, readBlocking(parsing, k)) || !leaveToOthers())
                continue;
            while (take.next < take.end) // this take's other files are left for the end
                putOff(take.next++);
            readers_.fetch_add(1); // readOnThisThread counts this thread out as it returns
            return;
        }
    }

    // Many files in the ring at once. A file whose first piece is not plainly the whole file
    // (it fills the piece, it is short where a short read need not be the end, or opening or
    // reading it failed) is read again the blocking way,
    // which tells a long file from a device and knows every failure. When the system keeps
    // refusing the ring, the files it holds are read the blocking way, and so is the rest.
    void readThroughRing(FileParsing &parsing, FileRing &ring, Take &take) {
        bool more = true, cancelled = false;
        for (;;) {
            size_t k;
            while (more && ring.hasFreeSlot() && goingOn() && (more = nextFile(take, k))) {
                if (!ring.start(listing_.folderDescriptor(), nameOf(k), kIniOpenFlags, k)) {
                    finish(parsing, k, readBlocking(parsing, k));
                    break;
                }
            }
            if (ring.broken())
                break;
            if (ring.busy() == 0)
                return;
            if (!goingOn() && !cancelled) {
                ring.cancelAll(); // nothing more counts: spare waiting for what is in flight
                cancelled = true;
            }
            ring.collect(std::chrono::milliseconds(50), [&](const RingRead &read) {
                if (!goingOn())
                    return;
                if (read.result > 0 && static_cast<size_t>(read.result) < kFileReadPiece &&
                    shortReads_ == ShortReads::EndTheFile) {
                    parsing.lookup.readBytes(read.data, static_cast<size_t>(read.result));
                    finish(parsing, read.tag, FileRead{});
                    readThroughRing_.fetch_add(1, std::memory_order_relaxed);
                } else {
                    finish(parsing, read.tag, readBlocking(parsing, read.tag));
                }
            });
        }
        for (size_t tag : ring.inFlight())
            if (goingOn())
                finish(parsing, tag, readBlocking(parsing, tag));
    }

    const FolderListing &listing_;
    const std::vector<size_t> &positions_;
    const ScanSettings &settings_;
    ScanProgress &progress_;
    const ShortReads shortReads_;
    AccountCharacters &characters_;
    std::vector<AccountOutcome> outcomes_;
    std::atomic<size_t> next_{0};
    std::atomic<int> readers_{0};
    std::atomic<bool> failed_{false};
    std::atomic<size_t> readThroughRing_{0};
    std::mutex lock_; // guards failure_, putOff_ and made_
    std::optional<ScanFailure> failure_;
    std::vector<size_t> putOff_;
    std::vector<ThreadRecords> made_;
};

} // namespace

AccountFilesRead readAccountFiles(const FolderListing &listing,
                                  const std::vector<size_t> &positions,
                                  const ScanSettings &settings, ScanProgress &progress,
                                  const std::function<void()> &besides,
                                  AccountCharacters &characters) {
    // The file systems the ring is trusted on are the local disks, whose short reads end a file.
    const bool localDisk = FileRing::trustsFileSystemOf(listing.folderDescriptor());
    AccountReading reading(listing, positions, settings, progress,
                           localDisk ? ShortReads::EndTheFile : ShortReads::MayComeEarly,
                           characters);
    const size_t readsInFlight = static_cast<size_t>(std::max(settings.readsInFlight, 1));
    const size_t cores = std::max(1u, std::thread::hardware_concurrency());
    size_t threads = std::max<size_t>(1, std::min({cores, readsInFlight, reading.takes()}));
    const auto slotsPerRing = static_cast<unsigned>(std::max<size_t>(1, readsInFlight / threads));
    const auto makeRing = [&settings](unsigned slotCount) {
        return settings.makeRing ? settings.makeRing(slotCount, kFileReadPiece)
                                 : FileRing::create(slotCount, kFileReadPiece);
    };
    std::unique_ptr<FileRing> ownRing;
    if (!settings.reader && settings.reading == FileReading::Ring && localDisk)
        ownRing = makeRing(slotsPerRing);
    const bool throughRing = ownRing != nullptr;
    if (!throughRing)
        threads = std::max<size_t>(1, std::min(readsInFlight, reading.takes()));
    {
        ReaderThreads helpers; // joined as this block ends, whatever ends it
        helpers.start(threads - 1, [&] {
            reading.readOnThisThread(throughRing ? makeRing(slotsPerRing) : nullptr);
        });
        reading.guarded(besides);
        reading.readOnThisThread(std::move(ownRing)); // this thread is one of the readers
    }
    reading.readPutOffFiles();
    return reading.take();
}

} // namespace orvantis
