#pragma once

#include "scan/liveranking.h"

#include <QByteArray>
#include <QString>

#include <exception>
#include <vector>

namespace orvantis {

// What reading changed account files again gave: each file as it reads now, or the error that
// kept them from being read (the folder gone, or the program short of descriptors or memory).
struct ChangesRead {
    std::vector<ChangedFile> files;
    std::exception_ptr error;
};

// Reads the entries named (as stored) in the accounts folder at `folder` again, through the
// same reading, parsing and level rule as a scan. Never throws: an error is given as a value.
ChangesRead readChangedFiles(const QString &folder, const std::vector<QByteArray> &names);

} // namespace orvantis
