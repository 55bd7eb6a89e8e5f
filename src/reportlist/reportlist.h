#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

namespace orvantis {

class ReportList;

// The text of one sub-item, reached through ListSubItems(k); the same cell as SubItems(k).
class ListSubItem {
public:
    QString Text() const;
    void SetText(const QString &text) const;

private:
    friend class ListItem;
    ListSubItem(ReportList *list, int row, int column) : list_(list), row_(row), column_(column) {}
    ReportList *list_;
    int row_;
    int column_;
};

// One row: its Text (column 1) and its sub-items (sub-item k shows in column k + 1).
// A ListItem names a position, so it is valid until rows are added, removed or re-ordered.
class ListItem {
public:
    int Index() const { return row_ + 1; }
    QString Text() const;
    void SetText(const QString &text) const;
    QString SubItems(int k) const;
    void SetSubItems(int k, const QString &text) const;
    ListSubItem ListSubItems(int k) const;

private:
    friend class ListItems;
    ListItem(ReportList *list, int row) : list_(list), row_(row) {}
    ReportList *list_;
    int row_;
};

// The rows of a report list, addressed by 1-based position in the current order.
class ListItems {
public:
    int Count() const;
    ListItem Item(int index) const;
    // Inserts a row at position index (1 .. Count() + 1) with empty sub-items.
    ListItem Add(int index, const QString &text);
    void Clear();

private:
    friend class ReportList;
    explicit ListItems(ReportList *list) : list_(list) {}
    ReportList *list_;
};

// A report-style list: rows of text cells under fixed column headers, sortable on one column.
// Cells live in one flat array, in row order, so a row costs its cells and nothing more.
class ReportList {
public:
    enum class Change { Rows, Cells, Visibility };
    using ChangeHandler = std::function<void(Change)>;

    explicit ReportList(QStringList columnHeaders);
    ReportList(const ReportList &) = delete;
    ReportList &operator=(const ReportList &) = delete;

    const QStringList &columnHeaders() const { return headers_; }
    int columnCount() const { return static_cast<int>(headers_.size()); }

    // Makes room for this many rows in all, so that adding them moves no cells.
    void reserve(int rows);

    ListItems &listItems() { return items_; }
    const ListItems &listItems() const { return items_; }

    // Sort order: 0 ascending, 1 descending. Sort key: 0 the row text, k sub-item k.
    int sortOrder() const { return sortOrder_; }
    void setSortOrder(int order);
    int sortKey() const { return sortKey_; }
    void setSortKey(int key);
    // Raises the failure setSortKey would raise for this key, and does nothing else.
    void checkSortKey(int key) const;
    bool isSorted() const { return sorted_; }
    // Setting the flag re-orders the rows at once by the key column's text, also when it was
    // already set. Rows only ever move here: writing a cell never moves its row.
    void setSorted(bool sorted);

    bool Visible() const { return visible_; }
    void SetVisible(bool visible);

    // Cell access by 0-based row and column; column 0 is the row text.
    const QString &cell(int row, int column) const;
    void setCell(int row, int column, const QString &text);
    // The same, copying the text into the cell's own memory when it has room.
    void setCell(int row, int column, QStringView text);

    // A number the program keeps with each row, not shown (0 until set); it moves with its row.
    // The scan keeps there where the row's account file is in its listing.
    uint32_t rowTag(int row) const;
    void setRowTag(int row, uint32_t tag);

    // Told of every change; a view collapses these into one refresh.
    void setChangeHandler(ChangeHandler handler) { onChange_ = std::move(handler); }

private:
    friend class ListItems;
    void checkRow(int row) const;
    void checkColumn(int column) const;
    void notify(Change change) const;
    void sortRows();

    QStringList headers_;
    std::vector<QString> cells_; // row-major, columnCount() cells per row
    std::vector<uint32_t> tags_; // one per row
    int rowCount_ = 0;
    ListItems items_;
    int sortOrder_ = 0;
    int sortKey_ = 0;
    bool sorted_ = false;
    bool visible_ = true;
    ChangeHandler onChange_;
};

} // namespace orvantis
