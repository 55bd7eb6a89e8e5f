#pragma once

#include "qtprinters.h"
#include "scan/accountrecords.h"

#include <QAbstractItemModel>
#include <QStringList>

// The records in order, their cells as the list shows them joined by "|".
inline QStringList rowTexts(const orvantis::AccountRecords &records) {
    QStringList rows;
    for (size_t r = 0; r < records.size(); ++r)
        rows << QStringList{records.login(r).toString(),
                            orvantis::AccountRecords::levelText(records[r].level),
                            orvantis::AccountRecords::slotText(records[r].slot),
                            records.name(r).toString()}
                    .join(u'|');
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
