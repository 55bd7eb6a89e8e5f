#include "console/ranking.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace orvantis {

namespace {

QString csvField(const QString &cell) {
    if (!cell.contains(u',') && !cell.contains(u'"') && !cell.contains(u'\n') &&
        !cell.contains(u'\r'))
        return cell;
    QString quoted = cell;
    quoted.replace(u'"', QLatin1String("\"\""));
    return u'"' + quoted + u'"';
}

QString csvRecord(const QStringList &fields) {
    QStringList quoted;
    for (const QString &field : fields)
        quoted << csvField(field);
    return quoted.join(u',') + QLatin1String("\r\n");
}

QStringList cellsOf(const ReportList &list, int row) {
    QStringList cells;
    for (int column = 0; column < list.columnCount(); ++column)
        cells << list.cell(row, column);
    return cells;
}

// The same lines as tabSeparatedRow gives, written as UTF-8 straight away: a ranking of a
// million rows is made without a text of each row in between.
QByteArray tsv(const ReportList &list, int rows) {
    QByteArray text;
    text.reserve(static_cast<qsizetype>(rows) * 40);
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < list.columnCount(); ++column) {
            if (column > 0)
                text += '\t';
            const qsizetype start = text.size();
            text += list.cell(row, column).toUtf8();
            for (qsizetype i = start; i < text.size(); ++i)
                if (text[i] == '\t' || text[i] == '\n' || text[i] == '\r')
                    text[i] = ' ';
        }
        text += '\n';
    }
    return text;
}

QByteArray csv(const ReportList &list, int rows) {
    QString text = csvRecord(list.columnHeaders());
    for (int row = 0; row < rows; ++row)
        text += csvRecord(cellsOf(list, row));
    return text.toUtf8();
}

QByteArray json(const ReportList &list, int rows) {
    QJsonArray array;
    for (int row = 0; row < rows; ++row) {
        // The level cell holds a whole number in ASCII digits, or nothing for 0.
        array.append(QJsonObject{{QStringLiteral("login"), list.cell(row, 0)},
                                 {QStringLiteral("level"), list.cell(row, 1).toLongLong()},
                                 {QStringLiteral("slot"), list.cell(row, 2)},
                                 {QStringLiteral("name"), list.cell(row, 3)}});
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

} // namespace

std::optional<RankingFormat> rankingFormatNamed(const QString &name) {
    if (name == QLatin1String("tsv"))
        return RankingFormat::Tsv;
    if (name == QLatin1String("csv"))
        return RankingFormat::Csv;
    if (name == QLatin1String("json"))
        return RankingFormat::Json;
    return std::nullopt;
}

QByteArray rankingText(const ReportList &list, RankingFormat format, int top) {
    const int count = list.listItems().Count();
    const int rows = top < 0 ? count : std::min(top, count);
    switch (format) {
    case RankingFormat::Csv:
        return csv(list, rows);
    case RankingFormat::Json:
        return json(list, rows);
    case RankingFormat::Tsv:
        break;
    }
    return tsv(list, rows);
}

} // namespace orvantis
