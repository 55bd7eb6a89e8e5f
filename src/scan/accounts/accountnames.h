#pragma once

#include <QString>

#include <string_view>

namespace orvantis {

// The names the program looks for on disk.

// The accounts folder of a program folder: the one entry named "accounts" in it.
QString accountsFolderOf(const QString &programFolder);

// Whether a file name is an account file's: its last three characters, letter case ignored,
// are "ini" (no dot needed).
bool isAccountFileName(const QString &name);
// The same rule on a name as stored on disk.
bool isAccountFileRawName(std::string_view rawName);

// Whether a name as stored is "accounts" with only its ASCII letters' case ignored: an entry
// that the scan's path ("…/accounts", found without regard to letter case) may lead to.
bool isAccountsNameIgnoringCase(std::string_view name);

} // namespace orvantis
