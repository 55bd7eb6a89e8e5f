#include "serve/leaderboardpage.h"

#include "scan/accounts/accountcells.h"
#include "serve/escaping.h"

#include <QLocale>
#include <QUrl>

#include <algorithm>

namespace orvantis {

QString grouped(int64_t count) {
    static const QLocale english(QLocale::English, QLocale::UnitedStates);
    return english.toString(static_cast<qlonglong>(count));
}

namespace {

QString counted(int64_t count, const QString &one, const QString &many) {
    return grouped(count) + u' ' + (count == 1 ? one : many);
}

// The page's own address with these parameters, "/?q=…&page=2", for an attribute.
// Links are relative, so that the page works under any prefix a reverse proxy gives it.
QByteArray pageLink(const QString &text, int64_t page, bool sinceWeek = false) {
    QByteArrayList parameters;
    if (!text.isEmpty())
        parameters << "q=" + QUrl::toPercentEncoding(text);
    if (page > 1)
        parameters << "page=" + QByteArray::number(static_cast<qlonglong>(page));
    if (sinceWeek)
        parameters << "since=week";
    return htmlAttribute(QString::fromLatin1(parameters.isEmpty() ? QByteArray("./")
                                                                  : "./?" + parameters.join('&')));
}

// The cell that says how a row's account moved, as an arrow and a number, and in words for a
// screen reader ("up 3 places since yesterday").
QByteArray movementCell(const RowMovement &moved, bool sinceWeek) {
    const char *since = sinceWeek ? "since last week" : "since yesterday";
    const std::optional<int64_t> &places = sinceWeek ? moved.week : moved.day;
    if (moved.isNew && !places)
        return "<td class=\"moved new\">new<span class=\"sr\"> this week</span></td>";
    if (!places)
        return QByteArray("<td class=\"moved\"><span class=\"sr\">not ranked ") +
               (sinceWeek ? "last week" : "yesterday") + "</span></td>";
    const qlonglong n = static_cast<qlonglong>(*places);
    if (n == 0)
        return QByteArray("<td class=\"moved\"><span aria-hidden=\"true\">\u2013</span><span "
                          "class=\"sr\">no change ") +
               since + "</span></td>";
    const qlonglong count = n > 0 ? n : -n;
    const QByteArray number = QByteArray::number(count);
    return QByteArray("<td class=\"moved ") + (n > 0 ? "up" : "down") +
           "\"><span aria-hidden=\"true\">" + (n > 0 ? "\u25b2" : "\u25bc") + number +
           "</span><span class=\"sr\">" + (n > 0 ? "up " : "down ") + number +
           (count == 1 ? " place " : " places ") + since + "</span></td>";
}

// The choice of the movement shown, a day's or a week's, and whether the history is written.
QByteArray movementChoice(const Snapshot &snapshot, const RowsQuery &query) {
    if (!snapshot.movements())
        return QByteArray();
    const int64_t page = query.page.value_or(1);
    const auto choice = [&](bool week, const char *text) {
        return "<a href=\"" + pageLink(query.text, page, week) + "\"" +
               (week == query.sinceWeek ? " aria-current=\"true\"" : "") + ">" + text + "</a>";
    };
    QByteArray line = "<p id=\"since\">Places moved: " + choice(false, "since yesterday") +
                      " \u00b7 " + choice(true, "since last week");
    if (!snapshot.movements()->reaches(query.sinceWeek))
        line += query.sinceWeek ? ". The history does not reach back a week yet."
                                : ". The history does not reach back a day yet.";
    line += "</p>\n";
    const std::optional<HistoryHealth> &history = snapshot.health().history;
    if (history && history->fault)
        line += "<p class=\"note\">The history cannot be written now: the places moved may be "
                "out of date.</p>\n";
    return line;
}

QByteArray cellsOf(const Snapshot &snapshot, size_t row, bool sinceWeek) {
    QByteArray cells = "<tr><td>" + QByteArray::number(static_cast<qulonglong>(row) + 1) + "</td>";
    for (int column = 0; column < kReportColumns; ++column) {
        QString scratch;
        cells += "<td>" + htmlText(recordCell(snapshot.records(), row, column, scratch)) + "</td>";
    }
    // Last, so that the columns of a page without a history stay where they are.
    if (const Movements *movements = snapshot.movements())
        cells += movementCell(
            movements->of(snapshot.records()[row].place, static_cast<int64_t>(row) + 1), sinceWeek);
    return cells + "</tr>\n";
}

QByteArray pagesNav(const RowsQuery &query, const RowsView &view) {
    if ((view.pages <= 1 && !view.pastTheLast) || query.from)
        return QByteArray();
    QByteArray nav = "<nav id=\"pages\" aria-label=\"Pages\">";
    const auto link = [&](int64_t page, const char *rel, const char *text) {
        nav += "<a href=\"" + pageLink(query.text, page, query.sinceWeek) + "\" rel=\"" + rel +
               "\">" + text + "</a> ";
    };
    if (view.pastTheLast) {
        link(1, "first", "First");
        if (view.pages > 1)
            link(view.pages, "last", "Last");
        return nav + "</nav>\n";
    }
    if (view.page > 1) {
        link(1, "first", "First");
        link(view.page - 1, "prev", "Previous");
    }
    nav += "<span>Page " + grouped(view.page).toUtf8() + " of " +
           (view.moreThanTotal ? "more than " : "") + grouped(view.pages).toUtf8() + "</span>";
    if (view.page < view.pages) {
        nav += ' ';
        link(view.page + 1, "next", "Next");
        if (!view.moreThanTotal) // the last page of a search counted in part is not known
            link(view.pages, "last", "Last");
    }
    return nav + "</nav>\n";
}

QString totalOf(const RowsView &view) {
    return (view.moreThanTotal ? QStringLiteral("more than ") : QString()) + grouped(view.total);
}

QByteArray captionOf(const RowsQuery &query, const RowsView &view) {
    if (view.pastTheLast)
        return htmlText(pastTheLastText(query, view));
    const int64_t last = view.firstPosition + static_cast<int64_t>(view.rows.size()) - 1;
    const QString span = view.rows.empty()
                             ? QString()
                             : QStringLiteral(": %1 to %2 of %3")
                                   .arg(grouped(view.firstPosition), grouped(last), totalOf(view));
    if (query.text.isEmpty())
        return htmlText(QStringLiteral("Accounts by the level of their best character, highest "
                                       "first%1")
                            .arg(view.rows.empty() ? QStringLiteral(": none") : span));
    return htmlText(
        QStringLiteral("Accounts with \u201c%1\u201d in their login or a character's "
                       "name%2")
            .arg(query.text, view.rows.empty() ? QStringLiteral(": none found") : span));
}

// The rows of the whole ranking, or of a search that counted all of its matches.
RowsView viewOfAll(const std::vector<size_t> *found, int64_t total, const RowsQuery &query) {
    RowsView view;
    view.total = total;
    const int64_t count = query.count.value_or(RowsQuery::kRowsPerPage);
    int64_t first = 0; // among the rows looked through, from 0
    if (query.from) {
        // From a rank on: the rows at or below that rank.
        if (found)
            first = std::lower_bound(found->begin(), found->end(),
                                     static_cast<size_t>(*query.from - 1)) -
                    found->begin();
        else
            first = std::min(*query.from - 1, total);
    } else {
        view.page = query.page.value_or(1);
        view.pages = std::max<int64_t>(1, (total + count - 1) / count);
        if (view.page > view.pages) {
            view.pastTheLast = true;
            return view;
        }
        first = (view.page - 1) * count;
    }
    const int64_t end = std::min(total, first + count);
    for (int64_t i = first; i < end; ++i)
        view.rows.push_back(found ? (*found)[static_cast<size_t>(i)] : static_cast<size_t>(i));
    view.firstPosition = first + 1;
    return view;
}

// The rows of a search whose matches are counted but not listed, read down the ranking: its
// pages go as far as its matches, or the counted ones when there are more.
RowsView viewOfCounted(const Snapshot &snapshot, const Snapshot::Found &found,
                       const RowsQuery &query, int64_t counted) {
    RowsView view;
    view.moreThanTotal = found.total > counted;
    view.total = std::min(found.total, counted);
    const int64_t count = query.count.value_or(RowsQuery::kRowsPerPage);
    size_t from = 0;
    int64_t skip = 0;
    if (query.from) {
        from = static_cast<size_t>(*query.from - 1);
    } else {
        view.page = query.page.value_or(1);
        view.pages = std::max<int64_t>(1, (view.total + count - 1) / count);
        skip = (view.page - 1) * count;
        if (view.page > view.pages) {
            (view.moreThanTotal ? view.pastTheCounted : view.pastTheLast) = true;
            return view;
        }
    }
    Snapshot::Slice slice = snapshot.rowsHolding(query.text, found, from, skip, count, counted);
    view.pastTheCounted = slice.beyond;
    view.rows = std::move(slice.rows);
    view.firstPosition = slice.before + 1;
    return view;
}

// How many rows down the ranking a query's rows lie, read in rank order: about as many as its
// matches go before them, at the density of its matches.
int64_t rowsToReach(const Snapshot &snapshot, const Snapshot::Found &found,
                    const RowsQuery &query) {
    const int64_t count = query.count.value_or(RowsQuery::kRowsPerPage);
    const auto rows = static_cast<int64_t>(snapshot.size());
    if (query.from)
        return std::min(rows, *query.from + count * rows / std::max<int64_t>(1, found.total));
    const int64_t page = query.page.value_or(1);
    if (page > found.total / count) // at or past the last page (a page of 10^12 too)
        return rows;
    return page * count * rows / std::max<int64_t>(1, found.total);
}

} // namespace

RowsView viewOf(const Snapshot &snapshot, const RowsQuery &query, int64_t counted) {
    if (query.text.isEmpty())
        return viewOfAll(nullptr, static_cast<int64_t>(snapshot.size()), query);
    std::shared_ptr<const Snapshot::Found> found = snapshot.search(query.text, counted);
    if (!found->listed && found->total <= counted &&
        snapshot.listingPays(*found, rowsToReach(snapshot, *found, query)))
        found = snapshot.listed(query.text, *found);
    if (found->listed)
        return viewOfAll(&found->rows, found->total, query);
    return viewOfCounted(snapshot, *found, query, counted);
}

QString pastTheLastText(const RowsQuery &query, const RowsView &view) {
    return QStringLiteral("There is no page %1: the last is %2")
        .arg(grouped(query.page.value_or(1)), grouped(view.pages));
}

QString summaryOf(const Snapshot &snapshot) {
    const ScanReport &report = snapshot.report();
    QString text =
        QStringLiteral("%1 from %2")
            .arg(counted(static_cast<int64_t>(snapshot.size()), QStringLiteral("account"),
                         QStringLiteral("accounts")),
                 counted(static_cast<int64_t>(report.accountFiles), QStringLiteral("account file"),
                         QStringLiteral("account files")));
    if (report.withoutLogin > 0)
        text += QStringLiteral("; %1 without a login")
                    .arg(grouped(static_cast<int64_t>(report.withoutLogin)));
    if (!report.skipped.empty())
        text += QStringLiteral("; %1 left out")
                    .arg(counted(static_cast<int64_t>(report.skipped.size()),
                                 QStringLiteral("file"), QStringLiteral("files")));
    return text;
}

QByteArray leaderboardPage(const Snapshot &snapshot, const RowsQuery &query, const RowsView &view) {
    const QDateTime changed = snapshot.changedAt().toUTC();
    QByteArray page =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<title>Leaderboard</title>\n<link rel=\"stylesheet\" href=\"leaderboard.css\">\n"
        "<script src=\"leaderboard.js\" defer></script>\n</head>\n<body>\n<header>\n"
        "<h1>Leaderboard</h1>\n<form role=\"search\" method=\"get\" action=\"./\">"
        "<label for=\"q\">Find a player or character</label> <input id=\"q\" name=\"q\" "
        "type=\"search\" maxlength=\"" +
        QByteArray::number(RowsQuery::kMaxText) + "\" value=\"" + htmlAttribute(query.text) +
        "\"> <button type=\"submit\">Find</button></form>\n</header>\n<main>\n"
        "<p id=\"summary\">" +
        htmlText(summaryOf(snapshot)) + ". Last change at <time datetime=\"" +
        changed.toString(Qt::ISODate).toUtf8() + "\">" +
        changed.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8() + " UTC</time>.</p>\n";
    const FolderHealth &health = snapshot.health();
    page += "<p id=\"note\" class=\"note\"";
    // Why, in words for players: where the folder is on the server is the admin's to read.
    if (health.readFailure)
        page +=
            (health.emptied ? ">The accounts folder has held no account files since "
                            : ">The accounts could not be read again since ") +
            health.failingSince.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8() +
            " UTC: the ranking is the last one read.</p>\n";
    else
        page += " hidden></p>\n";
    page +=
        "<p id=\"live\" class=\"note\" role=\"status\" hidden>The live connection is lost: "
        "trying again\u2026</p>\n"
        "<p id=\"vanished\" class=\"note\" role=\"status\" hidden></p>\n" +
        movementChoice(snapshot, query) + "<table id=\"ranking\" data-generation=\"" +
        snapshot.tag() + "\" data-first=\"" +
        QByteArray::number(static_cast<qlonglong>(view.rows.empty() ? 0 : view.rows.front() + 1)) +
        "\" data-last=\"" +
        QByteArray::number(static_cast<qlonglong>(view.rows.empty() ? 0 : view.rows.back() + 1)) +
        "\" data-pages=\"" + QByteArray::number(static_cast<qlonglong>(view.pages)) +
        "\" data-search=\"" + (query.text.isEmpty() ? "" : "1") + "\">\n<caption>" +
        captionOf(query, view) + "</caption>\n<thead><tr><th scope=\"col\">Rank</th>";
    for (const QString &title : reportColumnTitles())
        page += "<th scope=\"col\">" + htmlText(title) + "</th>";
    if (snapshot.movements())
        page +=
            QByteArray("<th scope=\"col\" class=\"moved\"><span aria-hidden=\"true\">Moved</span>"
                       "<span class=\"sr\">Moved ") +
            (query.sinceWeek ? "since last week" : "since yesterday") + "</span></th>";
    page += "</tr></thead>\n<tbody>\n";
    for (size_t row : view.rows)
        page += cellsOf(snapshot, row, query.sinceWeek);
    page += "</tbody>\n</table>\n" + pagesNav(query, view) + "</main>\n</body>\n</html>\n";
    return page;
}

} // namespace orvantis
