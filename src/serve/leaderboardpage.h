#pragma once

#include "serve/rowsquery.h"
#include "serve/snapshot.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

namespace orvantis {

// A count in ASCII digits grouped by thousands, as the window's English texts have it.
QString grouped(int64_t count);

// The rows a query shows of a snapshot: by rank, of the whole ranking or of the accounts a search
// found, as a page of kRowsPerPage or as `count` rows from a rank on.
struct RowsView {
    std::vector<size_t> rows;    // rows of the snapshot, in rank order
    int64_t page = 1;            // for a page
    int64_t pages = 1;           // how many pages there are of the rows looked through
    int64_t total = 0;           // rows looked through: all, or those found (see moreThanTotal)
    bool moreThanTotal = false;  // a search found more than it counts, `total`
    int64_t firstPosition = 0;   // the first row's place among them, from 1
    bool pastTheLast = false;    // the page asked for is past the last one: no rows
    bool pastTheCounted = false; // the rows asked for come after the matches a search counts
};
// A count in ASCII digits grouped by thousands, as the window's English texts have it.
QString grouped(int64_t count);

// What is said of a page asked for past the last one: which it was and which is the last.
QString pastTheLastText(const RowsQuery &query, const RowsView &view);

// The rows a query shows; a search counts its matches up to `counted`.
RowsView viewOf(const Snapshot &snapshot, const RowsQuery &query,
                int64_t counted = Snapshot::kCountedMatches);

// What the page says of the ranking: the counts of the accounts and their files, and when it
// last changed.
QString summaryOf(const Snapshot &snapshot);

// The leaderboard page: the summary, the search box, a table of the view's rows and links to
// the other pages; for a page past the last, no rows, what became of it and links to the first
// and the last. Every text from the accounts is escaped for where it goes.
QByteArray leaderboardPage(const Snapshot &snapshot, const RowsQuery &query, const RowsView &view);

} // namespace orvantis
