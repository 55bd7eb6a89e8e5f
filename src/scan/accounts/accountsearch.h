#pragma once

#include "scan/accounts/accountcharacters.h"
#include "scan/accounts/accountrecords.h"

#include <QStringView>

#include <cstddef>

namespace orvantis {

// Whether the account at `row` has `text` in its login or in the name of any of its characters
// (the one shown, and those of every slot), letter case ignored: how the window's find bar and
// the leaderboard's search find accounts.
bool accountHolds(const AccountRecords &records, const AccountCharacters *characters, size_t row,
                  QStringView text);

} // namespace orvantis
