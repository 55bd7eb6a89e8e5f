#pragma once

#include "listsort/sortlistcolumn.h"
#include "reportlist/reportlist.h"
#include "scan/accountcharacters.h"
#include "scan/accountfile.h"
#include "scan/accountrecords.h"
#include "scan/filering.h"
#include "scan/folderfiles.h"
#include "scan/inireader.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace orvantis {

// Whether a file name is an account file's: its last three characters, letter case ignored,
// are "ini" (no dot needed).
bool isAccountFileName(const QString &name);

// Which character slot holds the highest level: "1", "2" or "3" for a slot above both others,
// with that level; "X" and 0 when the top level is shared.
struct HighestLevel {
    QString slot;
    int32_t level;
};
HighestLevel findHighestLevel(int32_t level1, int32_t level2, int32_t level3);

// A level as decimal text, made with room for the sortable form the closing sort gives it, so
// that the sort rewrites it in place.
QString levelText(int32_t level);

// An account file the scan left out, and why: a level out of range, or a file that exists and
// could not be read.
struct SkippedFile {
    QString name;
    QString reason;
    bool unreadable = false;
};

// The file left out for this outcome (a level out of range, or unreadable with this errno).
SkippedFile skippedFile(const QString &name, FileOutcome outcome, int error);

// What a scan read, besides its rows.
struct ScanReport {
    // What the accounts entry turned out to be; a scan lists only a folder.
    FolderState accounts = FolderState::Listed;
    QString accountsPath;       // as looked at, without a trailing "/"
    QString accountsLinkTarget; // where it leads, when it is a link to nowhere
    size_t accountFiles = 0;    // the account files listed
    size_t withoutLogin = 0;    // account files read that hold no login, and so give no row
    size_t readThroughRing = 0; // account files whose bytes came through io_uring
    std::vector<SkippedFile> skipped;
    // The folder's listing, its folder closed: each row's tag is its account file's place in it.
    std::shared_ptr<const FolderListing> listing;

    // The path of the account file that the row with this tag was read from.
    QString accountFileOf(uint32_t rowTag) const;

    size_t unreadableFiles() const;
    // The account files that were read: those listed but the unreadable ones.
    size_t filesRead() const { return accountFiles - unreadableFiles(); }
};

// What a scan shares with whoever watches it from another thread: how many account files it
// found and has read so far, and a request to stop.
struct ScanProgress {
    std::atomic<size_t> filesFound{0};
    std::atomic<size_t> filesRead{0};
    std::atomic<bool> stop{false};
};

// Reads one account file, named by its path on disk, into the lookup, and says how that went:
// the scan's only contact with the files' contents, so that a test can hold it or make it fail.
// It should give up when `stop` is set.
using AccountFileReader = std::function<FileRead(IniLookup &lookup, const QByteArray &path,
                                                 const std::atomic<bool> &stop)>;

// How many account files a scan reads at once. Chosen by measurement on data not in the page
// cache, where many reads in flight let the disk work in parallel (docs/PERFORMANCE.md).
constexpr int kDefaultReadsInFlight = 64;

// How the file system's files are read: through the kernel's io_uring, which opens, reads and
// closes many files per call into the system (blocking reads where the system has no io_uring),
// or with blocking reads, one thread per read in flight.
enum class FileReading { Ring, Blocking };

struct ScanSettings {
    int readsInFlight = kDefaultReadsInFlight;
    AccountFileReader reader; // the file system's when empty
    ScanProgress *progress = nullptr;
    FileReading reading = FileReading::Ring; // for the file system's reader
    // How a ring of so many slots of so many bytes is made: the system's (FileRing::create)
    // when empty; a test hands in rings whose calls fail.
    std::function<std::unique_ptr<FileRing>(unsigned slotCount, size_t pieceSize)> makeRing;
};

// Raised by GetScores when its progress's stop was set before the rows were complete; the list
// is then as it was.
class ScanStopped : public std::exception {
public:
    const char *what() const noexcept override { return "the scan was stopped"; }
};

// What a scan gives: one record per account with a login, ranked highest level first, and what
// else it read.
struct ScanResult {
    std::shared_ptr<AccountRecords> records;
    // Every record's characters, by its place in the listing.
    std::shared_ptr<AccountCharacters> characters;
    ScanReport report;
    // What following the folder's changes starts from: the listing's places in name order, and
    // what each listed file came to.
    std::vector<uint32_t> nameOrder;
    std::vector<FileOutcome> outcomes;
};

// Reads every account file in the "accounts" folder of the program folder into one record per
// account with a login, ranked by level, highest first; the ranking is that of GetScores below,
// row for row. Leaves out, reports and fails as GetScores does.
ScanResult scanAccounts(const QString &programFolder, const ScanSettings &settings = {});

// Reads every account file in the "accounts" folder of the program folder and adds, for each
// account with a login, a row to the empty list: login, highest level, slot, character name.
// Then sorts the list by level, highest first. A file whose levels do not fit 32 bits, and a
// file that exists and cannot be read, is left out and named in the report; the scan goes on
// with the other files. An accounts entry that is no folder gives no rows, and the report says
// what it is.
// The files are read by several threads at once; the rows, their order and the report are those
// of reading them one after another in listing order. When the program runs short of file
// descriptors or memory, files are read again with fewer at once, down to one: a file is never
// left out for the program's own shortage. If even one cannot be read, a Failure says so.
// Call it on one thread at a time per list.
ScanReport GetScores(const QString &programFolder, ReportList &lvLevels,
                     const SortEnvironment &environment, const ScanSettings &settings = {});

} // namespace orvantis
