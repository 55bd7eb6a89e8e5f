#pragma once

#include "scan/system/scanfailure.h"

#include <QString>

#include <optional>

namespace orvantis {

// The start-up check: whether the program folder holds an entry named exactly "accounts",
// letter case significant, whatever kind of entry it is (a folder, a plain file, a link). The
// folder is read as it is on disk: an entry marked hidden or system (Windows) is not taken, and
// a dot-name is never "accounts". A program folder that does not exist holds no such entry; one
// that cannot be opened or read to its end gives the failure with the reason, since whether it
// holds one cannot be told.
struct AccountsFolderSearch {
    bool found = false;
    std::optional<ScanFailure> failure;
};
AccountsFolderSearch findAccountsFolder(const QString &programFolder);

// Where the start-up check looked, once it found no accounts folder, as a sentence that starts
// in lower case: "/srv/game does not exist", "/srv/game is not a folder", or "no entry named
// exactly "accounts" in /srv/game". The folder is named by its absolute path.
QString whereNoAccountsFolderIs(const QString &programFolder);

} // namespace orvantis
