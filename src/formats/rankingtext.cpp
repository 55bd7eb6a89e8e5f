#include "formats/rankingtext.h"

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
    Cells(const RankingRows &rows, CellText text)
        : rows_(rows), escaped_(text == CellText::ControlsEscaped) {}
    QString operator()(int row, int column) const {
        QString scratch;
        const QStringView cell = rows_.cell(row, column, scratch);
        return escaped_ ? withControlsEscaped(cell) : cell.toString();
    }
    // The same, added to `out` as UTF-8: ASCII, as most cells are, a byte at a time, the rest
    // through Qt's encoder.
    void appendUtf8(int row, int column, QByteArray &out) const {
        QString scratch;
        const QStringView cell = rows_.cell(row, column, scratch);
        if (escaped_) {
            out += withControlsEscaped(cell).toUtf8();
            return;
        }
        qsizetype ascii = 0;
        while (ascii < cell.size() && cell[ascii].unicode() < 0x80)
            ++ascii;
        const qsizetype start = out.size();
        out.resize(start + ascii);
        char *to = out.data() + start;
        for (qsizetype i = 0; i < ascii; ++i)
            to[i] = static_cast<char>(cell[i].unicode());
        if (ascii < cell.size())
            out += cell.mid(ascii).toUtf8();
    }
    QStringList row(int row, int columns) const {
        QStringList cells;
        for (int column = 0; column < columns; ++column)
            cells << (*this)(row, column);
        return cells;
    }

private:
    const RankingRows &rows_;
    bool escaped_;
};

// The same lines as tabSeparatedLine gives, written as UTF-8 straight away: a ranking of a
// million rows is made without a text of each row in between.
QByteArray tsv(const RankingRows &list, const Cells &cells, int rows) {
    const int columns = static_cast<int>(list.columnTitles().size());
    QByteArray text;
    text.reserve(static_cast<qsizetype>(rows) * 40);
    for (int row = 0; row < rows; ++row) {
        if (list.ranked())
            text += QByteArray::number(static_cast<qlonglong>(list.rank(row))) + '\t';
        for (int column = 0; column < columns; ++column) {
            if (column > 0)
                text += '\t';
            const qsizetype start = text.size();
            cells.appendUtf8(row, column, text);
            for (qsizetype i = start; i < text.size(); ++i)
                if (text[i] == '\t' || text[i] == '\n' || text[i] == '\r')
                    text[i] = ' ';
        }
        text += '\n';
    }
    return text;
}

QByteArray csv(const RankingRows &list, const Cells &cells, int rows) {
    const QStringList titles = list.columnTitles();
    const QStringList rankTitle =
        list.ranked() ? QStringList{QStringLiteral("Rank")} : QStringList();
    QString text = csvRecord(rankTitle + titles);
    for (int row = 0; row < rows; ++row) {
        const QStringList rank =
            list.ranked() ? QStringList{QString::number(list.rank(row))} : QStringList();
        text += csvRecord(rank + cells.row(row, static_cast<int>(titles.size())));
    }
    return text.toUtf8();
}

QByteArray json(const RankingRows &list, const Cells &cell, int rows) {
    QJsonArray array;
    for (int row = 0; row < rows; ++row) {
        QJsonObject object{{QStringLiteral("login"), cell(row, 0)},
                           {QStringLiteral("level"), static_cast<qint64>(list.level(row))},
                           {QStringLiteral("slot"), cell(row, 2)},
                           {QStringLiteral("name"), cell(row, 3)}};
        if (const std::optional<int32_t> tied = list.tiedLevel(row))
            object.insert(QStringLiteral("tiedLevel"), *tied);
        if (list.ranked())
            object.insert(QStringLiteral("rank"), static_cast<qint64>(list.rank(row)));
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

QByteArray rankingText(const RankingRows &list, RankingFormat format, int top, CellText cellText) {
    const int count = list.count();
    const int rows = top < 0 ? count : std::min(top, count);
    const Cells cells(list, cellText);
    switch (format) {
    case RankingFormat::Csv:
        return csv(list, cells, rows);
    case RankingFormat::Json:
        return json(list, cells, rows);
    case RankingFormat::Tsv:
        break;
    }
    return tsv(list, cells, rows);
}

} // namespace orvantis
