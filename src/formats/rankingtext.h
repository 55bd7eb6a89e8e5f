#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace orvantis {

// The forms orvantis-rank writes the ranking in.
enum class RankingFormat {
    // One line per row, its four cells separated by tabs; no header.
    Tsv,
    // RFC 4180: a header line of the column titles, then one record per row; a field is quoted
    // when it holds a comma, a quote or a line break; lines end in CRLF. A player's text that
    // begins with = + - @, a tab or a carriage return starts with ' so that no spreadsheet takes
    // it for a formula.
    Csv,
    // An array of objects {"login", "level", "slot", "name"}, "level" a number (0 for an empty
    // cell); a tied row whose characters share a level above 0 adds it as "tiedLevel".
    Json,
};

// How the cells' own text is written: as it is, or with every control character escaped (see
// withControlsEscaped), for a terminal, which would take them as commands.
enum class CellText { AsIs, ControlsEscaped };

// The format of a name as given to --format; nothing for an unknown one.
std::optional<RankingFormat> rankingFormatNamed(const QString &name);

// How a row's account has moved, where a history is kept: the places it moved up (down when
// negative) since the ranking of a day and of a week before, none where it was not ranked then
// or the history does not reach back so far; whether it is a newcomer of the week.
struct RowMovement {
    std::optional<int64_t> day, week;
    bool isNew = false;
    int64_t peakRank = 0; // the best rank it has held, now included
};

// The rows a ranking is written from, whatever keeps them: their cells as the list shows them,
// each row's level as a number, and the level a tied row's characters share.
class RankingRows {
public:
    virtual ~RankingRows() = default;
    virtual int count() const = 0;
    virtual QStringList columnTitles() const = 0;
    // The cell's text; `scratch` holds it where it is made for the asking.
    virtual QStringView cell(int row, int column, QString &scratch) const = 0;
    virtual int64_t level(int row) const = 0;
    // Whether the column holds what players wrote (a login, a name), not the program's numbers.
    virtual bool playersText(int column) const = 0;
    virtual std::optional<int32_t> tiedLevel(int row) const = 0;
    // Whether each row says its rank in the whole ranking, as a slice of it or the rows a search
    // found do: a first cell in TSV and CSV ("Rank"), "rank" in JSON.
    virtual bool ranked() const { return false; }
    virtual int64_t rank(int row) const { return row + 1; }
    // How the row's account has moved, in JSON ("change", "new"); none without a history.
    virtual std::optional<RowMovement> movement(int /*row*/) const { return std::nullopt; }
};

// The first `top` rows (all of them when `top` is negative), in order, in the given format, as
// UTF-8.
QByteArray rankingText(const RankingRows &rows, RankingFormat format, int top, CellText cellText);

} // namespace orvantis
