#pragma once

#include "scan/accounts/accountfile.h"
#include "scan/reading/folderlisting.h"
#include "scan/system/scanfailure.h"

#include <QString>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace orvantis {

// An account file the scan left out, and why: a level out of range, or a file that exists and
// could not be read.
struct SkippedFile {
    QString name;
    QString reason;
    bool unreadable = false;
};

// The file left out for this outcome (a level out of range, or unreadable with this errno).
SkippedFile skippedFile(const QString &name, FileOutcome outcome, int error);

// What a scan read, besides its rows, and how it ended: whole, stopped before its end, or
// failed with the reason (and then it read nothing).
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
    std::optional<ScanFailure> failure;
    bool stopped = false;

    // Whether the scan read the folder to its end.
    bool whole() const { return !failure && !stopped; }
    // The path of the account file that the row with this tag was read from.
    QString accountFileOf(uint32_t rowTag) const;

    size_t unreadableFiles() const;
    // The account files that were read: those listed but the unreadable ones.
    size_t filesRead() const { return accountFiles - unreadableFiles(); }
};

// Why the accounts entry gave no folder to list, starting with its path: "… is not a folder",
// "… is a link to …, which leads nowhere", "… no longer exists". Empty when it was listed.
QString whyNotListed(const ScanReport &report);

// "no account files in …", when the accounts folder was listed and holds none; else empty. The
// one sentence every program says it in.
QString whyNoAccountFiles(const ScanReport &report);

// What a scan shares with whoever watches it from another thread: how many account files it
// found and has read so far, and a request to stop.
struct ScanProgress {
    std::atomic<size_t> filesFound{0};
    std::atomic<size_t> filesRead{0};
    std::atomic<bool> stop{false};
};

} // namespace orvantis
