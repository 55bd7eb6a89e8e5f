#pragma once

#include <QString>

namespace orvantis {

// The path with each part that does not exist as written replaced by an entry of the same
// name in other letter case, when there is one; names are matched without regard to letter
// case. A part that exists as written is kept. Returns the path unchanged when nothing matches.
QString resolvePathIgnoringCase(const QString &path);

} // namespace orvantis
