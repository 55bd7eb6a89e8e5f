#pragma once

#include "scan/ini/inireader.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <vector>

namespace orvantis {

// What one entry of the accounts folder came to: not a listed account file (no regular file,
// gone, or not named like an account file), one without a login, one that gives a row, or one
// left out for a level out of range or because it could not be read.
enum class FileOutcome : uint8_t { NotListed, NoLogin, Row, OutOfRange, Unreadable };

// The values an account file gives, as the scan reads them from it.
struct AccountFile {
    FileOutcome outcome = FileOutcome::NotListed;
    int error = 0; // why an unreadable file could not be read
    // Given for a row: the characters' levels and trimmed names, the highest level (0 when the
    // top is shared) and its slot (1, 2 or 3, or 0 for "X"), the login and the name shown.
    std::array<int32_t, 3> levels{};
    int32_t level = 0;
    uint8_t slot = 0;
    QString login;
    QString name;
    std::array<QString, 3> names;
};

// An account file read again after it changed: its name as stored on disk, what it gives now
// (not listed when it is gone), and whether it is a link or has other names.
struct ChangedFile {
    QByteArray rawName;
    AccountFile file;
    bool linked = false;
};

// The keys a lookup for account files holds, in the order parseAccountFile expects them.
std::vector<IniName> accountFileKeys();

// What the account file just read into `lookup` (made with accountFileKeys) gives: a row, no
// login, or a level out of range.
AccountFile parseAccountFile(const IniLookup &lookup);

} // namespace orvantis
