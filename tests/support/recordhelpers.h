#pragma once

#include "qtprinters.h"
#include "scan/accounts/accountcells.h"

#include <QAbstractItemModel>
#include <QStringList>

// The records in order, their cells as the list shows them joined by "|".
inline QStringList rowTexts(const orvantis::AccountRecords &records) {
    QStringList rows;
    for (size_t r = 0; r < records.size(); ++r) {
        QStringList cells;
        for (int column = 0; column < orvantis::kReportColumns; ++column) {
            QString scratch;
            cells << orvantis::recordCell(records, r, column, scratch).toString();
        }
        rows << cells.join(u'|');
    }
    return rows;
}

// The rows a model shows, top to bottom, their cells joined by "|".
inline QStringList rowTexts(const QAbstractItemModel &model) {
    QStringList rows;
    for (int row = 0; row < model.rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < model.columnCount(); ++column)
            cells << model.index(row, column).data().toString();
        rows << cells.join(u'|');
    }
    return rows;
}
