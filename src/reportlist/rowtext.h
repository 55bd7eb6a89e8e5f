#pragma once

#include "reportlist/reportlist.h"

#include <QString>

namespace orvantis {

// A row as one line of tab-separated text: its cells left to right, a tab or line break inside a
// cell written as a space, so that the line splits back into the same cells. No line end.
QString tabSeparatedRow(const ReportList &list, int row);

} // namespace orvantis
