#include "formats/rankingtext.h"

#include "platform/visibletext.h"

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

// A player's text as a spreadsheet shows it, never as a formula: those that begin with what
// starts one (or with a tab or carriage return, which some spreadsheets skip before looking) get
// a ' before them, as OWASP advises.
QString notAFormula(QString text) {
    if (!text.isEmpty() && QStringView(u"=+-@\t\r").contains(text.front()))
        text.prepend(u'\'');
    return text;
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
    // A row's cells for CSV: players' texts never as formulas.
    QStringList csvRow(int row, int columns) const {
        QStringList cells;
        for (int column = 0; column < columns; ++column) {
            QString cell = (*this)(row, column);
            cells << (rows_.playersText(column) ? notAFormula(std::move(cell)) : cell);
        }
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
        text += csvRecord(rank + cells.csvRow(row, static_cast<int>(titles.size())));
    }
    return text.toUtf8();
}

constexpr char kHexDigits[] = "0123456789abcdef";

// The character at `i`, at or above U+0080, as UTF-8; a surrogate without its other half as
// \uXXXX, which UTF-8 cannot carry. Gives the place of its last code unit.
qsizetype appendNonAscii(QStringView text, qsizetype i, QByteArray &out) {
    const char16_t u = text[i].unicode();
    if (QChar::isHighSurrogate(u) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
        const char32_t c = QChar::surrogateToUcs4(u, text[i + 1].unicode());
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
        return i + 1;
    }
    if (QChar::isSurrogate(u)) {
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4)
            out += kHexDigits[(u >> shift) & 0xF];
    } else if (u < 0x800) {
        out += static_cast<char>(0xC0 | (u >> 6));
        out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (u >> 12));
        out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (u & 0x3F));
    }
    return i;
}

// A quote, a backslash or a control character, escaped.
void appendEscaped(char16_t u, QByteArray &out) {
    out += '\\';
    switch (u) {
    case '"':
        out += '"';
        break;
    case '\\':
        out += '\\';
        break;
    case '\b':
        out += 'b';
        break;
    case '\f':
        out += 'f';
        break;
    case '\n':
        out += 'n';
        break;
    case '\r':
        out += 'r';
        break;
    case '\t':
        out += 't';
        break;
    default:
        out += "u00";
        out += kHexDigits[u >> 4];
        out += kHexDigits[u & 0xF];
    }
}

// A JSON string as Qt's JSON writer gives it (the format the ranking has always had): the
// quote, the backslash and C0 controls escaped (\b \f \n \r \t by name, the rest as \u00hh),
// a surrogate without its pair as \uhhhh, everything else as UTF-8.
void appendJsonString(QStringView text, QByteArray &out) {
    out += '"';
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u >= 0x80)
            i = appendNonAscii(text, i, out);
        else if (u >= 0x20 && u != '"' && u != '\\')
            out += static_cast<char>(u);
        else
            appendEscaped(u, out);
    }
    out += '"';
}

QByteArray jsonNumber(const std::optional<int64_t> &number) {
    return number ? QByteArray::number(static_cast<qlonglong>(*number)) : QByteArray("null");
}

// An array of objects as Qt's JSON writer indents it, with the keys in its order (sorted), one
// row at a time: a million rows are written without a million objects in between.
QByteArray json(const RankingRows &list, const Cells &cell, int rows) {
    QByteArray text("[\n");
    text.reserve(static_cast<qsizetype>(rows) * 120 + 3);
    for (int row = 0; row < rows; ++row) {
        const std::optional<RowMovement> moved = list.movement(row);
        text += "    {\n        ";
        if (moved)
            text += "\"change\": {\"day\": " + jsonNumber(moved->day) +
                    ", \"week\": " + jsonNumber(moved->week) + "},\n        ";
        text += "\"level\": ";
        text += QByteArray::number(static_cast<qlonglong>(list.level(row)));
        text += ",\n        \"login\": ";
        appendJsonString(cell(row, 0), text);
        text += ",\n        \"name\": ";
        appendJsonString(cell(row, 3), text);
        if (moved)
            text += QByteArray(",\n        \"new\": ") + (moved->isNew ? "true" : "false") +
                    ",\n        \"peakRank\": " +
                    QByteArray::number(static_cast<qlonglong>(moved->peakRank));
        if (list.ranked()) {
            text += ",\n        \"rank\": ";
            text += QByteArray::number(static_cast<qlonglong>(list.rank(row)));
        }
        text += ",\n        \"slot\": ";
        appendJsonString(cell(row, 2), text);
        if (const std::optional<int32_t> tied = list.tiedLevel(row)) {
            text += ",\n        \"tiedLevel\": ";
            text += QByteArray::number(*tied);
        }
        text += row + 1 < rows ? "\n    },\n" : "\n    }\n";
    }
    text += "]\n";
    return text;
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
