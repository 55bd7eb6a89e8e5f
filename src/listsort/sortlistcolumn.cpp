#include "listsort/sortlistcolumn.h"

#include "listsort/dateforms.h"
#include "listsort/numberforms.h"
#include "platform/failure.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

namespace orvantis {

namespace {

const QString kFailureTitle = QStringLiteral("ListView Sort module Error");

// The key cells of a list: the row text for column 1 (or less), else sub-item column - 1.
class KeyColumn {
public:
    KeyColumn(ReportList &list, short column)
        : list_(list), column_(column <= 1 ? 0 : column - 1) {}

    int rows() const { return list_.listItems().Count(); }
    const QString &text(int row) const { return list_.cell(row, column_); }
    // Asks for the text of a row a few steps ahead, so that a pass over the rows does not wait
    // on each cell's memory in turn.
    void fetchAhead(int row) const {
        constexpr int kAhead = 8;
        if (row + kAhead < rows())
            __builtin_prefetch(text(row + kAhead).constData());
    }
    void setText(int row, QStringView text) { list_.setCell(row, column_, text); }

private:
    ReportList &list_;
    int column_;
};

short sortKeyFor(short column) {
    const int key = column - 1;
    if (key < std::numeric_limits<short>::min())
        throw Failure(kOverflow, QStringLiteral("Overflow"));
    return static_cast<short>(key);
}

void sortNumbers(ReportList &list, KeyColumn &keys, short direction, short key,
                 const QLocale &locale) {
    // Read every cell first, with the list still shown: a cell that is no number fails here,
    // before anything has changed.
    const NumberFormat numbers(locale);
    std::vector<std::optional<double>> values(static_cast<size_t>(keys.rows()));
    int width = 0;
    for (int row = 0; row < keys.rows(); ++row) {
        keys.fetchAhead(row);
        const QString &text = keys.text(row);
        if (text.isEmpty())
            continue;
        const double value = numbers.read(text);
        values[static_cast<size_t>(row)] = value;
        width = std::max(width, wholeDigitCount(value));
    }

    list.SetVisible(false);
    QString text; // reused for every cell, as are the cells' own buffers
    for (int row = 0; row < keys.rows(); ++row) {
        keys.fetchAhead(row);
        const auto &value = values[static_cast<size_t>(row)];
        if (value)
            sortableNumber(*value, width, text);
        else
            text = QStringLiteral("0");
        keys.setText(row, text);
    }
    ApplyListSort(list, direction, key);

    for (int row = 0; row < keys.rows(); ++row) {
        keys.fetchAhead(row);
        const double value = readSortableNumber(keys.text(row));
        if (value == 0)
            text.clear();
        else
            numbers.general(value, text);
        keys.setText(row, text);
    }
    list.SetVisible(true);
}

void sortDates(ReportList &list, KeyColumn &keys, short direction, short key,
               const QLocale &locale) {
    const DateForms forms(locale);
    list.SetVisible(false);
    // Read every cell before rewriting any, so that a cell that is no date changes nothing.
    std::vector<std::optional<DateTimeValue>> values(static_cast<size_t>(keys.rows()));
    for (int row = 0; row < keys.rows(); ++row) {
        const QString &text = keys.text(row);
        if (text.trimmed().isEmpty())
            continue;
        values[static_cast<size_t>(row)] = forms.read(text);
        if (!values[static_cast<size_t>(row)])
            throw Failure(kTypeMismatch,
                          QStringLiteral("Type mismatch: \"%1\" is not a date or time").arg(text));
    }

    for (int row = 0; row < keys.rows(); ++row) {
        const auto &value = values[static_cast<size_t>(row)];
        keys.setText(row, value ? sortableDateTime(*value) : QString());
    }
    ApplyListSort(list, direction, key);

    for (int row = 0; row < keys.rows(); ++row) {
        const QString &text = keys.text(row);
        if (text.isEmpty())
            continue;
        keys.setText(row, forms.general(*forms.read(text))); // the sort form reads in any locale
    }
    list.SetVisible(true);
}

} // namespace

void ApplyListSort(ReportList &list, short direction, short key) {
    if (direction == SortAscending)
        list.setSortOrder(0);
    else if (direction == SortDescending)
        list.setSortOrder(1);
    list.setSortKey(key);
    list.setSorted(true);
}

bool SortListColumn(ReportList &list, short column, short dataType, short direction,
                    const SortEnvironment &environment) {
    KeyColumn keys(list, column);
    try {
        if (dataType != SortText && dataType != SortNumber && dataType != SortDate)
            return true;
        // A key the list refuses fails here, before any cell is rewritten: every later step
        // then runs to its end, and a failure report always leaves the cells as they were.
        const short key = sortKeyFor(column);
        list.checkSortKey(key);
        if (dataType == SortText)
            ApplyListSort(list, direction, key);
        else if (dataType == SortNumber)
            sortNumbers(list, keys, direction, key, environment.locale);
        else
            sortDates(list, keys, direction, key, environment.locale);
        return true;
    } catch (const Failure &failure) {
        list.SetVisible(true);
        environment.messages.show(failure.description() + QStringLiteral(" (") +
                                      QString::number(failure.number()) + u')',
                                  kCritical, kFailureTitle);
        return false;
    }
}

} // namespace orvantis
