#pragma once

#include <QString>

#include <cstdint>

namespace orvantis::bench {

// Writes `count` account files into folder/accounts, as a game server would leave them:
// a login, up to three characters with names and levels, and a few other keys. The same seed
// gives the same files. Returns false when a file could not be written.
bool generateAccounts(const QString &folder, int count, uint32_t seed = 1);

// A folder under the system's temporary folder holding `count` generated accounts, made on
// first use and kept for later runs.
QString cachedAccountsFolder(int count);

} // namespace orvantis::bench
