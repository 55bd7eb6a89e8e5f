#pragma once

#include <QString>

namespace orvantis {

// The start-up check: whether the program folder holds an entry named exactly "accounts",
// letter case significant, whatever kind of entry it is. Hidden entries do not count.
bool accountsFolderFound(const QString &programFolder);

} // namespace orvantis
