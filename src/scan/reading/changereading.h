#pragma once

#include "scan/accounts/accountfile.h"
#include "scan/reading/folderlisting.h"
#include "scan/system/scanfailure.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace orvantis {

// What reading changed account files again gave: each file as it reads now, or the failure that
// kept them from being read (the folder gone, or the program short of descriptors or memory).
struct ChangesRead {
    std::vector<ChangedFile> files;
    std::optional<ScanFailure> failure;
};

// Reads the account files named (as stored) again in the folder `listing` read, as a scan that
// lists the folder now would, through the same reading, parsing and level rule: an entry the
// listing would leave out, or one gone, is not listed; any other is read and parsed. A folder
// that cannot be read, or that is another now than the one listed (its path leads elsewhere),
// fails the reading, and so does a file that cannot be opened or read for the program's own
// shortage (no descriptors, no memory), rather than being left out.
ChangesRead readChangedFiles(const FolderListing &listing, const std::vector<QByteArray> &names);

} // namespace orvantis
