#pragma once

#include <QStringView>

namespace orvantis {

// Compares two texts character by character without regard to letter case, as
// QString::compare(Qt::CaseInsensitive) does, with a fast path for ASCII.
int compareIgnoringCase(QStringView a, QStringView b);

} // namespace orvantis
