#pragma once

#include <QString>
#include <QStringList>

namespace orvantis {

// A row's cells as one line of tab-separated text, left to right, a tab or line break inside a
// cell written as a space, so that the line splits back into the same cells. No line end.
QString tabSeparatedLine(const QStringList &cells);

} // namespace orvantis
