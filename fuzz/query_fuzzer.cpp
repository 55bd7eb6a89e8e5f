// The query parameters of a request, from arbitrary bytes split as a query string is ("&" between
// parameters, "=" in each): checked without a crash, a checked query within its bounds, every
// answer from it a 200, 304, 400 or 404, and the page for a search text holding as much markup as
// the page for the same text with its markup characters made plain.
#include "scan/live/liveranking.h"
#include "serve/router.h"
#include "serve/rowsquery.h"

#include <QDateTime>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    orvantis::QueryParameters parameters;
    for (const QByteArray &part : bytes.split('&')) {
        const qsizetype equals = part.indexOf('=');
        parameters.emplace_back(part.left(equals < 0 ? part.size() : equals),
                                equals < 0 ? QByteArray() : part.mid(equals + 1));
    }
    for (const orvantis::RowsPlace place :
         {orvantis::RowsPlace::Page, orvantis::RowsPlace::Files}) {
        const orvantis::CheckedRows checked = orvantis::checkRowsQuery(parameters, place);
        if (!checked.error.isEmpty())
            continue;
        const orvantis::RowsQuery &query = checked.query;
        if (query.text.size() > orvantis::RowsQuery::kMaxText || (query.page && *query.page < 1) ||
            (query.from && *query.from < 1) ||
            (query.count && (*query.count < 1 || *query.count > orvantis::RowsQuery::kMaxCount)))
            std::abort();
    }
    static const orvantis::Snapshot snapshot(orvantis::LiveRanking(), 1,
                                             QDateTime::currentDateTimeUtc(), {});
    static const orvantis::PageFiles files = orvantis::PageFiles::load();
    for (const char *path : {"/", "/ranking.json", "/ranking.csv"}) {
        const orvantis::HttpResponse response =
            orvantis::respond({"GET", path, parameters, "gzip", "\"-g1\"", {}}, snapshot, files);
        if (response.status != 200 && response.status != 304 && response.status != 400 &&
            response.status != 404)
            std::abort();
    }
    orvantis::QueryParameters plain = parameters;
    for (auto &[name, value] : plain)
        for (char &c : value)
            if (c == '<' || c == '>' || c == '"' || c == '\'' || c == '&')
                c = 'x';
    const orvantis::HttpResponse page =
        orvantis::respond({"GET", "/", parameters, {}, {}, {}}, snapshot, files);
    const orvantis::HttpResponse plainPage =
        orvantis::respond({"GET", "/", plain, {}, {}, {}}, snapshot, files);
    if (page.status == 200 && plainPage.status == 200 &&
        page.bytes().count('<') != plainPage.bytes().count('<'))
        std::abort();
    return 0;
}
