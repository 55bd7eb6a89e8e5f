#pragma once

#include "reportlist/reportlist.h"

#include <QByteArray>

namespace orvantis {

// The list's rows in list order, one line each: its four cells separated by tabs, UTF-8. A tab
// or line break inside a cell is written as a space.
QByteArray rankingText(const ReportList &list);

} // namespace orvantis
