#include "scan/getscores.h"

#include "platform/asciitext.h"
#include "platform/decimaltext.h"
#include "platform/failure.h"
#include "scan/folderfiles.h"
#include "scan/inireader.h"
#include "scan/levelreading.h"

#include <algorithm>
#include <cstdint>
#include <exception>
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

// Reads the account files at `positions` of the listing, with up to `readsInFlight` threads that
// each read one file at a time, and gives their outcomes in the order of `positions`. Threads
// take a few files at a time, in listing order; each has a lookup of its own and shares nothing
// else but the listing, which no one changes. Meanwhile the calling thread does `besides`
// before it reads too.
template <typename Besides>
std::vector<AccountOutcome>
readAccounts(const FolderListing &listing, const std::vector<size_t> &positions,
             const ScanSettings &settings, ScanProgress &progress, Besides &&besides) {
    constexpr size_t kFilesPerTake = 16;
    const size_t count = positions.size();
    std::vector<AccountOutcome> outcomes(count);
    const AccountFileReader &reader = settings.reader;
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex failureLock;
    std::exception_ptr failure;

    const auto work = [&] {
        IniLookup lookup(accountNames());
        QByteArray path;
        for (size_t begin;
             (begin = next.fetch_add(kFilesPerTake, std::memory_order_relaxed)) < count;) {
            for (size_t k = begin; k < std::min(count, begin + kFilesPerTake); ++k) {
                if (progress.stop.load(std::memory_order_relaxed) ||
                    failed.load(std::memory_order_relaxed))
                    return;
                try {
                    if (reader) {
                        listing.path(positions[k], path);
                        reader(lookup, path, progress.stop);
                    } else { // relative to the folder as listed: no path to walk again
                        lookup.readFileAt(listing.folderDescriptor(),
                                          listing.rawName(positions[k]).data(), &progress.stop);
                    }
                    outcomes[k] = accountOutcome(lookup, listing, positions[k]);
                } catch (...) {
                    const std::lock_guard<std::mutex> lock(failureLock);
                    if (!failure)
                        failure = std::current_exception();
                    failed = true;
                    return;
                }
                progress.filesRead.fetch_add(1, std::memory_order_relaxed);
            }
        }
    };
    const size_t wanted = std::min<size_t>(static_cast<size_t>(std::max(settings.readsInFlight, 1)),
                                           (count + kFilesPerTake - 1) / kFilesPerTake);
    std::vector<std::thread> helpers;
    for (size_t t = 1; t < wanted; ++t) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error &) {
            break; // the system gives no more threads: those there are read the rest
        }
    }
    besides();
    work(); // this thread is one of the readers
    for (std::thread &helper : helpers)
        helper.join();
    if (failure)
        std::rethrow_exception(failure);
    if (progress.stop)
        throw ScanStopped();
    return outcomes;
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
    std::vector<size_t> outcomeOf(listing.size(), SIZE_MAX); // listing index -> outcome
    for (size_t k = 0; k < positions.size(); ++k)
        outcomeOf[positions[k]] = k;

    // Rows in name order, as reading one file after another in that order would make them.
    ScanReport report;
    lvLevels.reserve(lvLevels.listItems().Count() + static_cast<int>(positions.size()));
    int rowCounter = 1;
    for (size_t i : nameOrder) {
        if (outcomeOf[i] == SIZE_MAX)
            continue; // no account file
        AccountOutcome &outcome = outcomes[outcomeOf[i]];
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
