#include "scan/getscores.h"

#include "platform/asciitext.h"
#include "platform/decimaltext.h"
#include "platform/failure.h"
#include "scan/filering.h"
#include "scan/folderfiles.h"
#include "scan/inireader.h"
#include "scan/levelreading.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>

namespace orvantis {

namespace {

// The values one account file gives, in the order the lookup returns them.
enum AccountValue { kLogin, kLevel1, kLevel2, kLevel3, kName1, kName2, kName3, kNameX };

std::vector<IniName> accountNames() {
    return {{"GENERAL", "Login"}, {"CHAR1", "Level"}, {"CHAR2", "Level"}, {"CHAR3", "Level"},
            {"CHAR1", "Name"},    {"CHAR2", "Name"},  {"CHAR3", "Name"},  {"CHARX", "Name"}};
}

QString trimSpaces(const QString &text) {
    qsizetype begin = 0, end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.mid(begin, end - begin);
}

// The account file name rule, on the name as stored when its end is plain ASCII.
bool isAccountFile(const FolderListing &listing, size_t i) {
    const std::string_view raw = listing.rawName(i);
    if (raw.size() >= 3 && isAscii(raw.end() - 3, raw.end())) {
        const std::string_view end = raw.substr(raw.size() - 3);
        return std::equal(end.begin(), end.end(), "ini",
                          [](char a, char b) { return foldAscii(a) == b; });
    }
    return isAccountFileName(listing.name(i));
}

int nameValueOf(const QString &slot) {
    if (slot == u"1")
        return kName1;
    if (slot == u"2")
        return kName2;
    if (slot == u"3")
        return kName3;
    return kNameX;
}

} // namespace

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

// What one account file gives: no row (not an account, or no login), a row, or a file left out.
struct AccountOutcome {
    enum Kind : uint8_t { NoRow, Row, Skipped };
    Kind kind = NoRow;
    QString login;
    QString level; // as the row shows it
    QString slot;
    QString name; // the character's, trimmed; for a file left out, the file's
};

const QString kOutOfRange =
    QStringLiteral("a character level is outside -2147483648 to 2147483647");

// The outcome of the file at position `i` of the listing, just read into the lookup.
AccountOutcome accountOutcome(const IniLookup &lookup, const FolderListing &listing, size_t i) {
    int32_t levels[3];
    try {
        for (int slot = 0; slot < 3; ++slot) {
            // Reading skips blanks wherever they stand, so trimming is left to it.
            const auto ascii = lookup.asciiValue(kLevel1 + slot);
            levels[slot] = ascii ? readLevel(QLatin1StringView(
                                       ascii->data(), static_cast<qsizetype>(ascii->size())))
                                 : readLevel(lookup.value(kLevel1 + slot));
        }
    } catch (const Failure &failure) {
        if (failure.number() != kOverflow)
            throw;
        return {AccountOutcome::Skipped, {}, {}, {}, listing.name(i)};
    }
    HighestLevel highest = findHighestLevel(levels[0], levels[1], levels[2]);
    QString login = lookup.value(kLogin);
    if (login.isEmpty())
        return {};
    QString name = trimSpaces(lookup.value(nameValueOf(highest.slot)));
    return {AccountOutcome::Row, std::move(login), levelText(highest.level),
            std::move(highest.slot), std::move(name)};
}

// Account files read by several threads at once: what they share. Each thread takes a few files
// at a time, in listing order, and stores each file's outcome at the file's place, so the
// outcomes are indexed like the listing whichever thread read what, and when; a file that is no
// account file keeps the outcome "no row".
class AccountReading {
public:
    AccountReading(const FolderListing &listing, const std::vector<size_t> &positions,
                   const ScanSettings &settings, ScanProgress &progress)
        : listing_(listing), positions_(positions), settings_(settings), progress_(progress),
          outcomes_(listing.size()) {}

    // Reads files on this thread until none are left, the scan is stopped or a read failed:
    // through the ring when there is one, else with blocking reads.
    void readOnThisThread(std::unique_ptr<FileRing> ring) {
        try {
            IniLookup lookup(accountNames());
            if (ring)
                readThroughRing(lookup, *ring);
            else
                readOneByOne(lookup);
        } catch (...) {
            const std::lock_guard<std::mutex> lock(failureLock_);
            if (!failure_)
                failure_ = std::current_exception();
            failed_ = true;
        }
    }

    // The outcomes, once every thread is done; rethrows a failure or the stop.
    std::vector<AccountOutcome> takeOutcomes() {
        if (failure_)
            std::rethrow_exception(failure_);
        if (progress_.stop)
            throw ScanStopped();
        return std::move(outcomes_);
    }

    size_t takes() const { return (positions_.size() + kFilesPerTake - 1) / kFilesPerTake; }

private:
    static constexpr size_t kFilesPerTake = 16;

    bool goingOn() const {
        return !progress_.stop.load(std::memory_order_relaxed) &&
               !failed_.load(std::memory_order_relaxed);
    }

    // The place of the next file for this thread, from its current take or a new one.
    struct Take {
        size_t next = 0, end = 0;
    };
    bool nextFile(Take &take, size_t &k) {
        if (take.next == take.end) {
            take.next = next_.fetch_add(kFilesPerTake, std::memory_order_relaxed);
            take.end = std::min(positions_.size(), take.next + kFilesPerTake);
            if (take.next >= take.end)
                return false;
        }
        k = take.next++;
        return true;
    }

    const char *nameOf(size_t k) const { return listing_.rawName(positions_[k]).data(); }

    void finish(const IniLookup &lookup, size_t k) {
        outcomes_[positions_[k]] = accountOutcome(lookup, listing_, positions_[k]);
        progress_.filesRead.fetch_add(1, std::memory_order_relaxed);
    }

    // One blocking open, read and close after another.
    void readOneByOne(IniLookup &lookup) {
        QByteArray path;
        Take take;
        for (size_t k; goingOn() && nextFile(take, k);) {
            if (settings_.reader) {
                listing_.path(positions_[k], path);
                settings_.reader(lookup, path, progress_.stop);
            } else { // relative to the folder as listed: no path to walk again
                lookup.readFileAt(listing_.folderDescriptor(), nameOf(k), &progress_.stop);
            }
            finish(lookup, k);
        }
    }

    // Many files in the ring at once. A file whose first piece is not plainly the whole file
    // (it fills the piece, or opening or reading it failed) is read again the blocking way,
    // which tells a long file from a device and knows every failure.
    void readThroughRing(IniLookup &lookup, FileRing &ring) {
        Take take;
        bool more = true, cancelled = false;
        for (;;) {
            size_t k;
            while (more && ring.hasFreeSlot() && goingOn() && (more = nextFile(take, k)))
                ring.start(listing_.folderDescriptor(), nameOf(k), kIniOpenFlags, k);
            if (ring.busy() == 0)
                return;
            if (!goingOn() && !cancelled) {
                ring.cancelAll(); // nothing more counts: spare waiting for what is in flight
                cancelled = true;
            }
            ring.collect(std::chrono::milliseconds(50), [&](const RingRead &read) {
                if (!goingOn())
                    return;
                if (read.result > 0 && static_cast<size_t>(read.result) < kFileReadPiece)
                    lookup.readBytes(read.data, static_cast<size_t>(read.result));
                else
                    lookup.readFileAt(listing_.folderDescriptor(), nameOf(read.tag),
                                      &progress_.stop);
                finish(lookup, read.tag);
            });
        }
    }

    const FolderListing &listing_;
    const std::vector<size_t> &positions_;
    const ScanSettings &settings_;
    ScanProgress &progress_;
    std::vector<AccountOutcome> outcomes_;
    std::atomic<size_t> next_{0};
    std::atomic<bool> failed_{false};
    std::mutex failureLock_;
    std::exception_ptr failure_;
};

// Reads the account files at `positions` of the listing and gives their outcomes, indexed like
// the listing. The ring keeps its reads in flight from one thread per core; blocking reads, where
// the system offers no ring, take one thread per read in flight. Meanwhile the calling thread
// does `besides` before it reads too.
template <typename Besides>
std::vector<AccountOutcome>
readAccounts(const FolderListing &listing, const std::vector<size_t> &positions,
             const ScanSettings &settings, ScanProgress &progress, Besides &&besides) {
    AccountReading reading(listing, positions, settings, progress);
    const size_t readsInFlight = static_cast<size_t>(std::max(settings.readsInFlight, 1));
    const size_t cores = std::max(1u, std::thread::hardware_concurrency());
    size_t threads = std::max<size_t>(1, std::min({cores, readsInFlight, reading.takes()}));
    const auto slotsPerRing = static_cast<unsigned>(std::max<size_t>(1, readsInFlight / threads));
    std::unique_ptr<FileRing> ownRing;
    if (!settings.reader && settings.reading == FileReading::Ring)
        ownRing = FileRing::create(slotsPerRing, kFileReadPiece);
    const bool throughRing = ownRing != nullptr;
    if (!throughRing)
        threads = std::max<size_t>(1, std::min(readsInFlight, reading.takes()));

    std::vector<std::thread> helpers;
    for (size_t t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back([&] {
                reading.readOnThisThread(
                    throughRing ? FileRing::create(slotsPerRing, kFileReadPiece) : nullptr);
            });
        } catch (const std::system_error &) {
            break; // the system gives no more threads: those there are read the rest
        }
    }
    besides();
    reading.readOnThisThread(std::move(ownRing)); // this thread is one of the readers
    for (std::thread &helper : helpers)
        helper.join();
    return reading.takeOutcomes();
}

} // namespace

ScanReport GetScores(const QString &programFolder, ReportList &lvLevels,
                     const SortEnvironment &environment, const ScanSettings &settings) {
    ScanProgress ownProgress;
    ScanProgress &progress = settings.progress ? *settings.progress : ownProgress;
    // Listed once, as the folder stores it, so that reading starts at once; every account file
    // is then read once, through the folder as found on disk. The name order, in which the
    // rows are made, is worked out while the files are read.
    const FolderListing listing =
        listRegularFiles(programFolder + QStringLiteral("/accounts/"), ListingOrder::AsStored);
    std::vector<size_t> positions;
    for (size_t i = 0; i < listing.size(); ++i)
        if (isAccountFile(listing, i))
            positions.push_back(i);
    progress.filesFound = positions.size();
    std::vector<size_t> nameOrder;
    std::vector<AccountOutcome> outcomes = readAccounts(listing, positions, settings, progress,
                                                        [&] { nameOrder = listing.nameOrder(); });

    // Rows in name order, as reading one file after another in that order would make them.
    ScanReport report;
    lvLevels.reserve(lvLevels.listItems().Count() + static_cast<int>(positions.size()));
    int rowCounter = 1;
    for (size_t i : nameOrder) {
        AccountOutcome &outcome = outcomes[i];
        if (outcome.kind == AccountOutcome::Skipped) {
            report.skipped.push_back({std::move(outcome.name), kOutOfRange});
        } else if (outcome.kind == AccountOutcome::Row) {
            const ListItem row = lvLevels.listItems().Add(rowCounter, outcome.login);
            row.SetSubItems(1, outcome.level);
            row.SetSubItems(2, outcome.slot);
            row.SetSubItems(3, outcome.name);
            ++rowCounter;
        }
        outcome = AccountOutcome(); // its texts now live in the list alone
    }
    SortListColumn(lvLevels, 2, SortNumber, SortDescending, environment);
    return report;
}

} // namespace orvantis
