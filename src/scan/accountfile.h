#pragma once

#include "scan/inifiles.h"
#include "scan/inireader.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <string_view>
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

// The account file name rule (see isAccountFileName) on a name as stored on disk.
bool isAccountFileRawName(std::string_view rawName);

// The keys a lookup for account files holds, in the order parseAccountFile expects them.
std::vector<IniName> accountFileKeys();

// What the account file just read into `lookup` (made with accountFileKeys) gives: a row, no
// login, or a level out of range.
AccountFile parseAccountFile(const IniLookup &lookup);

// Errors in opening or reading a file that are the program's, never the file's: too many files
// open in the process or the system, no memory, or a descriptor of the program's own gone bad.
bool isProgramsOwnShortage(int error);

// Reads the entry named `rawName` (as stored on disk) in the open folder `folder`, as a scan
// that lists the folder now would: an entry the listing would leave out, or one gone, is not
// listed; any other is read and parsed. A file that cannot be opened or read for the program's
// own shortage (no descriptors, no memory) raises a Failure rather than being left out.
AccountFile readAccountFileAt(int folder, const QByteArray &rawName, ShortReads shortReads);

} // namespace orvantis
