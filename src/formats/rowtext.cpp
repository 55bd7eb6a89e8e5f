#include "formats/rowtext.h"

namespace orvantis {

QString tabSeparatedLine(const QStringList &cells) {
    QString line;
    for (qsizetype column = 0; column < cells.size(); ++column) {
        if (column > 0)
            line += u'\t';
        const qsizetype start = line.size();
        line += cells[column];
        for (qsizetype i = start; i < line.size(); ++i)
            if (line[i] == u'\t' || line[i] == u'\n' || line[i] == u'\r')
                line[i] = u' ';
    }
    return line;
}

} // namespace orvantis
