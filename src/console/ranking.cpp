#include "console/ranking.h"

namespace orvantis {

namespace {
QString flat(QString cell) {
    for (QChar &c : cell)
        if (c == u'\t' || c == u'\n' || c == u'\r')
            c = u' ';
    return cell;
}
} // namespace

QByteArray rankingText(const ReportList &list) {
    QString text;
    for (int row = 0; row < list.listItems().Count(); ++row) {
        for (int column = 0; column < list.columnCount(); ++column) {
            if (column > 0)
                text += u'\t';
            text += flat(list.cell(row, column));
        }
        text += u'\n';
    }
    return text.toUtf8();
}

} // namespace orvantis
