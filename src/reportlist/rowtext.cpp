#include "reportlist/rowtext.h"

namespace orvantis {

QString tabSeparatedRow(const ReportList &list, int row) {
    QString line;
    for (int column = 0; column < list.columnCount(); ++column) {
        if (column > 0)
            line += u'\t';
        QString cell = list.cell(row, column);
        for (QChar &c : cell)
            if (c == u'\t' || c == u'\n' || c == u'\r')
                c = u' ';
        line += cell;
    }
    return line;
}

} // namespace orvantis
