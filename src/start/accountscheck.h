#pragma once

#include <QString>

#include <optional>

namespace orvantis {

// The start of a program without a window: whether `programFolder` holds the accounts folder.
// When it does not, says "Accounts folder not found!" and where the program looked, and gives
// kExitNoAccountsFolder; when the folder cannot be read to tell, says why, as `program`, and
// gives kExitUnhandledError; else nothing, to go on.
std::optional<int> checkAccountsFolder(const char *program, const QString &programFolder);

} // namespace orvantis
