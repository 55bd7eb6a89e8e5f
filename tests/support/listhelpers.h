#pragma once

#include "qtprinters.h"
#include "reportlist/reportlist.h"

#include <QStringList>

// Four column headers, for lists that tests fill.
inline QStringList fourColumns() {
    return {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"), QStringLiteral("D")};
}

// Adds one row per entry: row text, then sub-items in order.
inline void addRows(orvantis::ReportList &list, const QList<QStringList> &rows) {
    for (const QStringList &cells : rows) {
        orvantis::ListItem item =
            list.listItems().Add(list.listItems().Count() + 1, cells.value(0));
        for (int k = 1; k < cells.size(); ++k)
            item.SetSubItems(k, cells[k]);
    }
}

// The cells of one column, top to bottom; column 0 is the row text.
inline QStringList columnTexts(const orvantis::ReportList &list, int column) {
    QStringList texts;
    for (int row = 0; row < list.listItems().Count(); ++row)
        texts << list.cell(row, column);
    return texts;
}

// The rows top to bottom, their cells joined by "|".
inline QStringList rowTexts(const orvantis::ReportList &list) {
    QStringList rows;
    for (int row = 0; row < list.listItems().Count(); ++row) {
        QStringList cells;
        for (int column = 0; column < list.columnCount(); ++column)
            cells << list.cell(row, column);
        rows << cells.join(u'|');
    }
    return rows;
}
