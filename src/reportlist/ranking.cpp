#include "reportlist/ranking.h"

#include "platform/visibletext.h"

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

// A cell's text as the ranking writes it.
class Cells {
public:
    Cells(const ReportList &list, CellText text)
        : list_(list), escaped_(text == CellText::ControlsEscaped) {}
    QString operator()(int row, int column) const {
        const QString &cell = list_.cell(row, column);
        return escaped_ ? withControlsEscaped(cell) : cell;
    }
    QStringList row(int row) const {
        QStringList cells;
        for (int column = 0; column < list_.columnCount(); ++column)
            cells << (*this)(row, column);
        return cells;
    }

private:
    const ReportList &list_;
    bool escaped_;
};

// The same lines as tabSeparatedRow gives, written as UTF-8 straight away: a ranking of a
// million rows is made without a text of each row in between.
QByteArray tsv(const ReportList &list, const Cells &cell, int rows) {
    QByteArray text;
    text.reserve(static_cast<qsizetype>(rows) * 40);
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < list.columnCount(); ++column) {
            if (column > 0)
                text += '\t';
            const qsizetype start = text.size();
            text += cell(row, column).toUtf8();
            for (qsizetype i = start; i < text.size(); ++i)
                if (text[i] == '\t' || text[i] == '\n' || text[i] == '\r')
                    text[i] = ' ';
        }
        text += '\n';
    }
    return text;
}

QByteArray csv(const ReportList &list, const Cells &cells, int rows) {
    QString text = csvRecord(list.columnHeaders());
    for (int row = 0; row < rows; ++row)
        text += csvRecord(cells.row(row));
    return text.toUtf8();
}

QByteArray json(const ReportList &list, const Cells &cell, int rows,
                const TiedLevelOfRow &tiedLevelOf) {
    QJsonArray array;
    for (int row = 0; row < rows; ++row) {
        // The level cell holds a whole number in ASCII digits, or nothing for 0.
        QJsonObject object{{QStringLiteral("login"), cell(row, 0)},
                           {QStringLiteral("level"), list.cell(row, 1).toLongLong()},
                           {QStringLiteral("slot"), cell(row, 2)},
                           {QStringLiteral("name"), cell(row, 3)}};
        if (tiedLevelOf)
            if (const std::optional<int32_t> tied = tiedLevelOf(row))
                object.insert(QStringLiteral("tiedLevel"), *tied);
        array.append(object);
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

QByteArray rankingText(const ReportList &list, RankingFormat format, int top, CellText cellText,
                       const TiedLevelOfRow &tiedLevelOf) {
    const int count = list.listItems().Count();
    const int rows = top < 0 ? count : std::min(top, count);
    const Cells cells(list, cellText);
    switch (format) {
    case RankingFormat::Csv:
        return csv(list, cells, rows);
    case RankingFormat::Json:
        return json(list, cells, rows, tiedLevelOf);
    case RankingFormat::Tsv:
        break;
    }
    return tsv(list, cells, rows);
}

} // namespace orvantis
