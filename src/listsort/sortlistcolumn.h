#pragma once

#include "platform/messagebox.h"
#include "reportlist/reportlist.h"

#include <QLocale>

namespace orvantis {

// How the key column's cells are compared.
enum SortDataType : short {
    SortText = 0,
    SortNumber = 1,
    SortDate = 2,
};

enum SortDirection : short {
    SortAscending = 3,
    SortDescending = 4,
};

// The sort's surroundings: the message box that reports a failure, and the locale that
// numbers and dates are read and written in.
struct SortEnvironment {
    MessageBox &messages;
    QLocale locale;
};

// Sorts the list on one column (1 = the row text, k = sub-item k - 1), its cells treated as
// text, numbers or dates. Numbers and dates are rewritten into a form whose text order is
// their order, sorted by the list, and written back in display form: numbers in general number
// form (zero as an empty cell), dates in the "General Date" form. Any failure is reported in a
// message box; the list is then shown again with its key cells as they were, and the result is
// false. A data type outside SortDataType does nothing and returns true.
bool SortListColumn(ReportList &list, short column, short dataType, short direction,
                    const SortEnvironment &environment);

// Sets the list's sort order (for a direction in SortDirection; any other leaves it), its sort
// key, and its sorted flag, which sorts the rows.
void ApplyListSort(ReportList &list, short direction, short key);

} // namespace orvantis
