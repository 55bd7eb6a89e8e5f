#include "reportlist/reportlist.h"

#include "platform/asciitext.h"
#include "platform/failure.h"
#include "platform/textcompare.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <utility>

namespace orvantis {

namespace {
Failure indexOutOfBounds() {
    return Failure(kSubscriptOutOfRange, QStringLiteral("Index out of bounds"));
}
Failure invalidProperty() {
    return Failure(kInvalidPropertyValue, QStringLiteral("Invalid property value"));
}
} // namespace

QString ListSubItem::Text() const {
    return list_->cell(row_, column_);
}
void ListSubItem::SetText(const QString &text) const {
    list_->setCell(row_, column_, text);
}

QString ListItem::Text() const {
    return list_->cell(row_, 0);
}
void ListItem::SetText(const QString &text) const {
    list_->setCell(row_, 0, text);
}

QString ListItem::SubItems(int k) const {
    if (k < 1)
        throw invalidProperty();
    return list_->cell(row_, k);
}

void ListItem::SetSubItems(int k, const QString &text) const {
    if (k < 1)
        throw invalidProperty();
    list_->setCell(row_, k, text);
}

ListSubItem ListItem::ListSubItems(int k) const {
    if (k < 1 || k >= list_->columnCount())
        throw indexOutOfBounds();
    return ListSubItem(list_, row_, k);
}

int ListItems::Count() const {
    return list_->rowCount_;
}

ListItem ListItems::Item(int index) const {
    list_->checkRow(index - 1);
    return ListItem(list_, index - 1);
}

ListItem ListItems::Add(int index, const QString &text) {
    if (index < 1 || index > list_->rowCount_ + 1)
        throw indexOutOfBounds();
    const int columns = list_->columnCount();
    const auto at = list_->cells_.begin() + static_cast<std::ptrdiff_t>(index - 1) * columns;
    if (index == list_->rowCount_ + 1) {
        list_->cells_.resize(list_->cells_.size() + columns);
        list_->cells_[static_cast<size_t>(index - 1) * columns] = text;
        list_->tags_.push_back(0);
    } else {
        const auto inserted = list_->cells_.insert(at, columns, QString());
        *inserted = text;
        list_->tags_.insert(list_->tags_.begin() + (index - 1), 0);
    }
    ++list_->rowCount_;
    list_->notify(ReportList::Change::Rows);
    return ListItem(list_, index - 1);
}

void ListItems::Clear() {
    if (list_->rowCount_ == 0)
        return;
    list_->cells_.clear();
    list_->cells_.shrink_to_fit();
    list_->tags_.clear();
    list_->tags_.shrink_to_fit();
    list_->rowCount_ = 0;
    list_->notify(ReportList::Change::Rows);
}

ReportList::ReportList(QStringList columnHeaders)
    : headers_(std::move(columnHeaders)), items_(this) {
    if (headers_.isEmpty())
        headers_.append(QString());
}

void ReportList::reserve(int rows) {
    cells_.reserve(static_cast<size_t>(std::max(rows, 0)) * columnCount());
    tags_.reserve(static_cast<size_t>(std::max(rows, 0)));
}

uint32_t ReportList::rowTag(int row) const {
    checkRow(row);
    return tags_[static_cast<size_t>(row)];
}

void ReportList::setRowTag(int row, uint32_t tag) {
    checkRow(row);
    tags_[static_cast<size_t>(row)] = tag;
}

void ReportList::setSortOrder(int order) {
    if (order != 0 && order != 1)
        throw invalidProperty();
    sortOrder_ = order;
}

void ReportList::checkSortKey(int key) const {
    if (key < 0 || key >= columnCount())
        throw invalidProperty();
}

void ReportList::setSortKey(int key) {
    checkSortKey(key);
    sortKey_ = key;
}

void ReportList::setSorted(bool sorted) {
    sorted_ = sorted;
    if (sorted_)
        sortRows();
}

void ReportList::SetVisible(bool visible) {
    if (visible_ == visible)
        return;
    visible_ = visible;
    notify(Change::Visibility);
}

const QString &ReportList::cell(int row, int column) const {
    checkRow(row);
    checkColumn(column);
    return cells_[static_cast<size_t>(row) * columnCount() + column];
}

void ReportList::setCell(int row, int column, const QString &text) {
    checkRow(row);
    checkColumn(column);
    cells_[static_cast<size_t>(row) * columnCount() + column] = text;
    notify(Change::Cells);
}

void ReportList::setCell(int row, int column, QStringView text) {
    checkRow(row);
    checkColumn(column);
    QString &cell = cells_[static_cast<size_t>(row) * columnCount() + column];
    if (cell.isDetached() && cell.capacity() >= text.size()) {
        cell.resize(text.size());
        std::copy(text.begin(), text.end(), cell.begin());
    } else {
        cell = text.toString();
    }
    notify(Change::Cells);
}

void ReportList::checkRow(int row) const {
    if (row < 0 || row >= rowCount_)
        throw indexOutOfBounds();
}

void ReportList::checkColumn(int column) const {
    if (column < 0 || column >= columnCount())
        throw indexOutOfBounds();
}

void ReportList::notify(Change change) const {
    if (onChange_)
        onChange_(change);
}

namespace {

// A row's key for sorting. `head` holds the first eight characters, ASCII letters folded, one
// byte each, so that most comparisons are one integer comparison; it is only used when those
// characters are all plain ASCII (and no NUL). `length` is the text's length, kept here so that
// equal short keys are told equal without reading the texts again.
struct SortEntry {
    uint64_t head;
    int32_t row;
    int32_t length; // -1 when the head is not usable
    bool headUsable() const { return length >= 0; }
};

SortEntry makeEntry(const QString &text, int row) {
    SortEntry entry{0, row, static_cast<int32_t>(std::min<qsizetype>(text.size(), INT32_MAX))};
    const qsizetype n = std::min<qsizetype>(text.size(), 8);
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c == 0 || !isAscii(c)) {
            entry.length = -1;
            break;
        }
        entry.head |= static_cast<uint64_t>(foldAscii(c)) << (56 - 8 * i);
    }
    return entry;
}

int compareEntries(const SortEntry &a, const SortEntry &b, const QString &aText,
                   const QString &bText) {
    if (a.headUsable() && b.headUsable()) {
        if (a.head != b.head)
            return a.head < b.head ? -1 : 1;
        return compareIgnoringCase(QStringView(aText).mid(std::min<qsizetype>(8, aText.size())),
                                   QStringView(bText).mid(std::min<qsizetype>(8, bText.size())));
    }
    return compareIgnoringCase(aText, bText);
}

} // namespace

// A stable sort of the rows on the key column's text, compared without regard to letter case.
// The cells are then moved into the new order once, so that later passes walk them in order.
void ReportList::sortRows() {
    if (rowCount_ < 2)
        return;
    const int columns = columnCount();
    const bool descending = sortOrder_ == 1;
    std::vector<SortEntry> entries;
    entries.reserve(static_cast<size_t>(rowCount_));
    for (int row = 0; row < rowCount_; ++row) {
        if (row + 8 < rowCount_) // the key's characters, a few rows ahead
            __builtin_prefetch(
                cells_[static_cast<size_t>(row + 8) * columns + sortKey_].constData());
        entries.push_back(makeEntry(cells_[static_cast<size_t>(row) * columns + sortKey_], row));
    }
    const auto keyText = [&](const SortEntry &e) -> const QString & {
        return cells_[static_cast<size_t>(e.row) * columns + sortKey_];
    };
    std::stable_sort(entries.begin(), entries.end(), [&](const SortEntry &a, const SortEntry &b) {
        // The common cases, without reading the texts: different heads, or equal short keys.
        if (a.headUsable() && b.headUsable()) {
            if (a.head != b.head)
                return descending ? a.head > b.head : a.head < b.head;
            if (a.length <= 8 && b.length <= 8)
                return false; // equal heads of texts this short are equal texts
        }
        const int c = compareEntries(a, b, keyText(a), keyText(b));
        return descending ? c > 0 : c < 0;
    });
    // Move the rows into a new array in their new order: the reads jump about, so the rows a
    // few steps ahead are fetched early; the writes go straight through.
    constexpr size_t kAhead = 8;
    std::vector<QString> sorted;
    sorted.reserve(cells_.size());
    std::vector<uint32_t> sortedTags;
    sortedTags.reserve(tags_.size());
    for (size_t to = 0; to < entries.size(); ++to) {
        if (to + kAhead < entries.size())
            __builtin_prefetch(&cells_[static_cast<size_t>(entries[to + kAhead].row) * columns]);
        auto from = cells_.begin() + static_cast<std::ptrdiff_t>(entries[to].row) * columns;
        std::move(from, from + columns, std::back_inserter(sorted));
        sortedTags.push_back(tags_[static_cast<size_t>(entries[to].row)]);
    }
    cells_.swap(sorted);
    tags_.swap(sortedTags);
    notify(Change::Rows);
}

} // namespace orvantis
