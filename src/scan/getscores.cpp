#include "scan/getscores.h"

#include "platform/asciitext.h"
#include "platform/decimaltext.h"
#include "platform/failure.h"
#include "scan/accountfile.h"
#include "scan/filering.h"
#include "scan/folderfiles.h"
#include "scan/inifiles.h"
#include "scan/inireader.h"
#include "scan/readerthreads.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

namespace orvantis {

namespace {} // namespace

QString ScanReport::accountFileOf(uint32_t rowTag) const {
    return listing && rowTag < listing->size() ? listing->folder() + listing->name(rowTag)
                                               : QString();
}

SkippedFile skippedFile(const QString &name, FileOutcome outcome, int error) {
    if (outcome == FileOutcome::Unreadable)
        return {name, QStringLiteral("could not be read: ") + systemErrorText(error), true};
    return {name, QStringLiteral("a character level is outside -2147483648 to 2147483647")};
}

size_t ScanReport::unreadableFiles() const {
    return static_cast<size_t>(std::count_if(skipped.begin(), skipped.end(),
                                             [](const SkippedFile &f) { return f.unreadable; }));
}

QString levelText(int32_t level) {
    constexpr int kRoom = 12; // a sign, ten digits and the closing mark of a negative level
    char16_t digits[kDecimalRoom];
    const int length = writeDecimal(level, digits);
    QString text(kRoom, Qt::Uninitialized);
    std::copy(digits, digits + length, reinterpret_cast<char16_t *>(text.data()));
    text.resize(length); // keeps the room
    return text;
}

bool isAccountFileName(const QString &name) {
    return name.right(3).toLower() == QLatin1String("ini");
}

HighestLevel findHighestLevel(int32_t l1, int32_t l2, int32_t l3) {
    if (l1 > l2 && l1 > l3)
        return {QStringLiteral("1"), l1};
    if (l2 > l1 && l2 > l3)
        return {QStringLiteral("2"), l2};
    if (l3 > l1 && l3 > l2)
        return {QStringLiteral("3"), l3};
    return {QStringLiteral("X"), 0};
}

namespace {

// What one account file came to, kept at its place in the listing.
struct AccountOutcome {
    FileOutcome kind = FileOutcome::NotListed;
    int error = 0; // why an unreadable file could not be read
};

// What one reading thread makes of the account files it reads: a record for each account with
// a login, their texts and their characters' names in one block of text of its own.
struct ThreadRecords {
    QString text;
    std::vector<AccountRecord> records;
};

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
        try {
            work();
        } catch (...) {
            const std::lock_guard<std::mutex> lock(lock_);
            if (!failure_)
                failure_ = std::current_exception();
            failed_ = true;
        }
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
                if (read.outcome == FileRead::Failed && isProgramsOwnShortage(read.error))
                    throw systemFailure(read.error,
                                        QStringLiteral("Cannot open the account file %1, even "
                                                       "with no other account file open")
                                            .arg(listing_.name(positions_[k])));
                finish(parsing, k, read);
            }
            putOff_.clear();
            keep(parsing);
        });
    }

    // Once every thread is done: the outcomes, indexed like the listing, and what each thread
    // made, by its block; rethrows a failure or the stop.
    std::vector<AccountOutcome> takeOutcomes(std::vector<ThreadRecords> &made) {
        if (failure_)
            std::rethrow_exception(failure_);
        if (progress_.stop)
            throw ScanStopped();
        made = std::move(made_);
        return std::move(outcomes_);
    }

    size_t takes() const { return (positions_.size() + kFilesPerTake - 1) / kFilesPerTake; }
    size_t readThroughRing() const { return readThroughRing_.load(); }

private:
    static constexpr size_t kFilesPerTake = 16;

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
    std::exception_ptr failure_;
    std::vector<size_t> putOff_;
    std::vector<ThreadRecords> made_;
};

// Reads the account files at `positions` of the listing and gives their outcomes, indexed like
// the listing. The ring keeps its reads in flight from one thread per core, where the folder's
// file system is one the ring may be trusted on; blocking reads take one thread per read in
// flight. Meanwhile the calling thread does `besides` before it reads too. Each thread makes
// the records and characters of the files it reads: what each made is in `made`. Counts the
// files read through a ring into `readThroughRing`.
template <typename Besides>
std::vector<AccountOutcome>
readAccounts(const FolderListing &listing, const std::vector<size_t> &positions,
             const ScanSettings &settings, ScanProgress &progress, Besides &&besides,
             AccountCharacters &characters, std::vector<ThreadRecords> &made,
             size_t &readThroughRing) {
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
    readThroughRing = reading.readThroughRing();
    return reading.takeOutcomes(made);
}

// What a scan of the folder made, before its records are put in an order: the records, their
// texts, and the place of each listed file in name order.
struct ScanParts {
    ScanReport report;
    std::vector<AccountRecord> records;
    std::shared_ptr<const TextBlocks> texts;
    std::vector<uint32_t> nameRank;    // by listing place
    std::vector<uint32_t> nameOrder;   // the listing places in name order
    std::vector<FileOutcome> outcomes; // by listing place
    std::shared_ptr<AccountCharacters> characters;
};

// Reads the accounts folder: one record per account with a login, made by the thread that read
// its file; the report says the rest, its left-out files in name order.
ScanParts scanFolder(const QString &programFolder, const ScanSettings &settings) {
    ScanProgress ownProgress;
    ScanProgress &progress = settings.progress ? *settings.progress : ownProgress;
    // Listed once, as the folder stores it, so that reading starts at once; every account file
    // is then read once, through the folder as found on disk. The name order, which decides
    // between accounts of the same level, is worked out while the files are read.
    FolderListing listing =
        listRegularFiles(programFolder + QStringLiteral("/accounts/"), ListingOrder::AsStored);
    ScanParts parts;
    ScanReport &report = parts.report;
    report.accounts = listing.state();
    report.accountsPath = listing.path();
    report.accountsLinkTarget = listing.linkTarget();
    std::vector<size_t> positions;
    for (size_t i = 0; i < listing.size(); ++i)
        if (isAccountFileRawName(listing.rawName(i)))
            positions.push_back(i);
    report.accountFiles = positions.size();
    progress.filesFound = positions.size();
    std::vector<size_t> nameOrder;
    auto characters = std::make_shared<AccountCharacters>(listing.size());
    std::vector<ThreadRecords> made;
    const std::vector<AccountOutcome> outcomes = readAccounts(
        listing, positions, settings, progress, [&] { nameOrder = listing.nameOrder(); },
        *characters, made, report.readThroughRing);

    // What stays to do after the last file: the report in name order, and the records and
    // texts of every thread put together.
    parts.nameRank.resize(listing.size());
    parts.nameOrder.resize(listing.size());
    parts.outcomes.resize(listing.size());
    for (size_t rank = 0; rank < nameOrder.size(); ++rank) {
        const size_t i = nameOrder[rank];
        parts.nameRank[i] = static_cast<uint32_t>(rank);
        parts.nameOrder[rank] = static_cast<uint32_t>(i);
        parts.outcomes[i] = outcomes[i].kind;
        const AccountOutcome &outcome = outcomes[i];
        if (outcome.kind == FileOutcome::NoLogin)
            ++report.withoutLogin;
        else if (outcome.kind == FileOutcome::OutOfRange || outcome.kind == FileOutcome::Unreadable)
            report.skipped.push_back(skippedFile(listing.name(i), outcome.kind, outcome.error));
    }
    size_t count = 0;
    for (const ThreadRecords &thread : made)
        count += thread.records.size();
    parts.records.reserve(count);
    auto texts = std::make_shared<TextBlocks>();
    texts->reserve(made.size());
    for (ThreadRecords &thread : made) {
        parts.records.insert(parts.records.end(), thread.records.begin(), thread.records.end());
        std::vector<AccountRecord>().swap(thread.records);
        texts->push_back(std::move(thread.text));
    }
    characters->setBlocks(texts);
    parts.texts = std::move(texts);
    listing.closeFolder();
    report.listing = std::make_shared<const FolderListing>(std::move(listing));
    parts.characters = std::move(characters);
    return parts;
}

} // namespace

ScanResult scanAccounts(const QString &programFolder, const ScanSettings &settings) {
    ScanParts parts = scanFolder(programFolder, settings);
    // Highest level first; of the same level, in name order, as a stable sort of the rows made
    // in name order has them. Every record's key is its own, so any sort gives that order.
    const std::vector<uint32_t> &rank = parts.nameRank;
    std::sort(parts.records.begin(), parts.records.end(),
              [&rank](const AccountRecord &a, const AccountRecord &b) {
                  return a.level != b.level ? a.level > b.level : rank[a.place] < rank[b.place];
              });
    ScanResult result;
    result.records =
        std::make_shared<AccountRecords>(std::move(parts.records), std::move(parts.texts));
    result.report = std::move(parts.report);
    result.characters = std::move(parts.characters);
    result.nameOrder = std::move(parts.nameOrder);
    result.outcomes = std::move(parts.outcomes);
    return result;
}

ScanReport GetScores(const QString &programFolder, ReportList &lvLevels,
                     const SortEnvironment &environment, const ScanSettings &settings) {
    ScanParts parts = scanFolder(programFolder, settings);
    const std::vector<uint32_t> &rank = parts.nameRank;
    std::sort(parts.records.begin(), parts.records.end(),
              [&rank](const AccountRecord &a, const AccountRecord &b) {
                  return rank[a.place] < rank[b.place];
              });
    const AccountRecords records(std::move(parts.records), std::move(parts.texts));
    // The rows in name order, as reading one file after another in that order would make them.
    lvLevels.reserve(lvLevels.listItems().Count() + static_cast<int>(records.size()));
    int rowCounter = 1;
    for (size_t r = 0; r < records.size(); ++r) {
        const ListItem row = lvLevels.listItems().Add(rowCounter, records.login(r).toString());
        row.SetSubItems(1, levelText(records[r].level));
        row.SetSubItems(2, AccountRecords::slotText(records[r].slot));
        row.SetSubItems(3, records.name(r).toString());
        lvLevels.setRowTag(rowCounter - 1, records[r].place);
        ++rowCounter;
    }
    SortListColumn(lvLevels, 2, SortNumber, SortDescending, environment);
    return std::move(parts.report);
}

} // namespace orvantis
