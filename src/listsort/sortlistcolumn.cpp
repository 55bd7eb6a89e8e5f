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
    KeyColumn(ReportList &list, short column) : list_(list), column_(column <= 1 ? 0 : column - 1) {}

    int rows() const { return list_.listItems().Count(); }
    const QString &text(int row) const { return list_.cell(row, column_); }
    void setText(int row, const QString &text) { list_.setCell(row, column_, text); }

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

// Keeps the key cells as they were before a rewrite, to put back if the sort fails before the
// rows have moved.
class KeyCellBackup {
public:
    explicit KeyCellBackup(KeyColumn &keys) : keys_(keys) {}
    void take() {
        saved_.reserve(static_cast<size_t>(keys_.rows()));
        for (int row = 0; row < keys_.rows(); ++row)
            saved_.push_back(keys_.text(row));
        taken_ = true;
    }
    void dropAfterRowsMoved() { taken_ = false; }
    void restore() {
        if (!taken_)
            return;
        for (int row = 0; row < static_cast<int>(saved_.size()); ++row)
            keys_.setText(row, saved_[static_cast<size_t>(row)]);
    }

private:
    KeyColumn &keys_;
    std::vector<QString> saved_;
    bool taken_ = false;
};

void sortNumbers(ReportList &list, KeyColumn &keys, KeyCellBackup &backup, short direction,
                 short key, const QLocale &locale) {
    // Read every cell first, with the list still shown: a cell that is no number fails here,
    // before anything has changed.
    const NumberFormat numbers(locale);
    std::vector<std::optional<double>> values(static_cast<size_t>(keys.rows()));
    int width = 0;
    for (int row = 0; row < keys.rows(); ++row) {
        const QString &text = keys.text(row);
        if (text.isEmpty())
            continue;
        const double value = numbers.Read(text);
        values[static_cast<size_t>(row)] = value;
        width = std::max(width, WholeDigitCount(value));
    }

    list.SetVisible(false);
    backup.take();
    for (int row = 0; row < keys.rows(); ++row) {
        const auto &value = values[static_cast<size_t>(row)];
        keys.setText(row, value ? SortableNumber(*value, width) : QStringLiteral("0"));
    }
    ApplyListSort(list, direction, key);
    backup.dropAfterRowsMoved();

    for (int row = 0; row < keys.rows(); ++row) {
        const double value = ReadSortableNumber(keys.text(row));
        keys.setText(row, value == 0 ? QString() : numbers.General(value));
    }
    list.SetVisible(true);
}

void sortDates(ReportList &list, KeyColumn &keys, KeyCellBackup &backup, short direction,
               short key, const QLocale &locale) {
    list.SetVisible(false);
    // Read every cell before rewriting any, so that a cell that is no date changes nothing.
    std::vector<std::optional<DateTimeValue>> values(static_cast<size_t>(keys.rows()));
    for (int row = 0; row < keys.rows(); ++row) {
        const QString &text = keys.text(row);
        if (text.trimmed().isEmpty())
            continue;
        values[static_cast<size_t>(row)] = ReadDateTime(text, locale);
        if (!values[static_cast<size_t>(row)])
            throw Failure(kTypeMismatch,
                          QStringLiteral("Type mismatch: \"%1\" is not a date or time").arg(text));
    }

    backup.take();
    for (int row = 0; row < keys.rows(); ++row) {
        const auto &value = values[static_cast<size_t>(row)];
        keys.setText(row, value ? SortableDateTime(*value) : QString());
    }
    ApplyListSort(list, direction, key);
    backup.dropAfterRowsMoved();

    for (int row = 0; row < keys.rows(); ++row) {
        const QString &text = keys.text(row);
        if (text.isEmpty())
            continue;
        keys.setText(row, GeneralDate(*ReadDateTime(text, QLocale::c()), locale));
    }
    list.SetVisible(true);
}

} // namespace

void ApplyListSort(ReportList &list, short direction, short key) {
    if (direction == SortAscending)
        list.SetSortOrder(0);
    else if (direction == SortDescending)
        list.SetSortOrder(1);
    list.SetSortKey(key);
    list.SetSorted(true);
}

bool SortListColumn(ReportList &list, short column, short dataType, short direction,
                    const SortServices &services) {
    KeyColumn keys(list, column);
    KeyCellBackup backup(keys);
    try {
        switch (dataType) {
        case SortText:
            ApplyListSort(list, direction, sortKeyFor(column));
            break;
        case SortNumber:
            sortNumbers(list, keys, backup, direction, sortKeyFor(column), services.locale);
            break;
        case SortDate:
            sortDates(list, keys, backup, direction, sortKeyFor(column), services.locale);
            break;
        default:
            break;
        }
        return true;
    } catch (const Failure &failure) {
        backup.restore();
        list.SetVisible(true);
        services.messageBox.Show(
            failure.description() + QStringLiteral(" (") + QString::number(failure.number()) + u')',
            kCritical, kFailureTitle);
        return false;
    }
}

} // namespace orvantis
