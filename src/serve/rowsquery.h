#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace orvantis {

// A request's query parameters as they came, decoded: name and value.
using QueryParameters = std::vector<std::pair<QByteArray, QByteArray>>;

// What a request for rows of the ranking asks for, its parameters checked: a search (q), and
// which of the rows (all of them, or those found) by page (100 a page) or from a rank on.
struct RowsQuery {
    QString text;                 // q; empty for no search
    std::optional<int64_t> page;  // from 1
    std::optional<int64_t> from;  // a rank, from 1
    std::optional<int64_t> count; // rows at most, 1 to kMaxCount
    bool sinceWeek = false;       // the page's movement: since a week before, not a day
    bool any() const { return !text.isEmpty() || page || from || count; }

    static constexpr int64_t kRowsPerPage = 100;
    static constexpr int64_t kMaxCount = 1000;
    // A search text longer than this is no player's name.
    static constexpr int kMaxText = 100;
};

// Which parameters a place takes: the page takes q, page and since (day or week); the ranking's
// files take q, page, from and count. Parameters it does not know are not looked at.
enum class RowsPlace { Page, Files };

// The query checked, or why it cannot be: one line, for a 400 answer.
struct CheckedRows {
    RowsQuery query;
    QString error;
};
CheckedRows checkRowsQuery(const QueryParameters &parameters, RowsPlace place);

} // namespace orvantis
