#pragma once

#include "scan/accounts/accountfile.h"
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

// Reads the account files named (as stored) in the open folder `folderFd` again, as a scan that
// lists the folder now would, through the same reading, parsing and level rule: an entry the
// listing would leave out, or one gone, is not listed; any other is read and parsed. A file that
// cannot be opened or read for the program's own shortage (no descriptors, no memory) fails the
// reading rather than being left out, and so does a folder that is not open (-1) or may no
// longer be read.
ChangesRead readChangedFiles(int folderFd, const std::vector<QByteArray> &names);

} // namespace orvantis
