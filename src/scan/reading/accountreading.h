#pragma once

#include "scan/accounts/accountcharacters.h"
#include "scan/accounts/accountfile.h"
#include "scan/accounts/accountrecords.h"
#include "scan/ini/bytesource.h"
#include "scan/ini/inireader.h"
#include "scan/reading/folderlisting.h"
#include "scan/reading/scanreport.h"
#include "scan/system/filering.h"
#include "scan/system/scanfailure.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace orvantis {

// Reads one account file, named by its path on disk, into the lookup, and says how that went:
// the scan's only contact with the files' contents, so that a test can hold it or make it fail.
// It should give up when `stop` is set.
using AccountFileReader = std::function<FileRead(IniLookup &lookup, const QByteArray &path,
                                                 const std::atomic<bool> &stop)>;

// How many account files a scan reads at once. Chosen by measurement on data not in the page
// cache, where many reads in flight let the disk work in parallel: at 1,000,000 files 256 read
// fastest of 64 to 512, and as fast as any when the files are cached (docs/PERFORMANCE.md).
constexpr int kDefaultReadsInFlight = 256;

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
    // Whether the scan tells which account files are links or have other names, for a follower
    // to watch what they lead to: a look at each file's entry more.
    bool findLinkedFiles = false;
};

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

// What reading a folder's account files gave: each file's outcome at its place in the listing,
// and what each thread made, by its block of text. Nothing of that counts when the reading
// failed (and why) or was stopped.
struct AccountFilesRead {
    std::vector<AccountOutcome> outcomes;
    std::vector<ThreadRecords> made;
    size_t readThroughRing = 0; // files whose bytes came through a ring
    std::optional<ScanFailure> failure;
    bool stopped = false;
};

// Reads the account files at `positions` of the listing, several at once: through rings, one
// per core, where the folder's file system is one the ring may be trusted on; else with
// blocking reads, one thread per read in flight. Meanwhile the calling thread does `besides`
// before it reads too. The thread that reads a file makes its record, and its characters in
// `characters`. When the program runs short of file descriptors or memory, files are read
// again with fewer at once, down to one: a file is never left out for the program's shortage.
AccountFilesRead readAccountFiles(const FolderListing &listing,
                                  const std::vector<size_t> &positions,
                                  const ScanSettings &settings, ScanProgress &progress,
                                  const std::function<void()> &besides,
                                  AccountCharacters &characters);

} // namespace orvantis
