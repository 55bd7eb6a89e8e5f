#include "serve/router.h"

#include "formats/accountranking.h"
#include "formats/rankingtext.h"
#include "serve/leaderboardpage.h"
#include "serve/statusjson.h"

#include <QCryptographicHash>
#include <QFile>
#include <QLocale>

#include <algorithm>

namespace orvantis {

namespace {

// A shared cache in front of the server, or the browser, may keep an answer this long: the
// ranking is live, and a second is what a reader notices.
const QByteArray kCacheControl = "public, max-age=1";
// The page runs its own script and style and nothing else, in no frame.
// The page's own files change only with the program: an hour, then asked again by their tag.
const QByteArray kFileCacheControl = "public, max-age=3600";
const QByteArray kPagePolicy = "default-src 'none'; script-src 'self'; style-src 'self'; "
                               "connect-src 'self'; img-src 'self'; form-action 'self'; "
                               "base-uri 'none'; frame-ancestors 'none'";

std::shared_ptr<const Body> bodyOf(QByteArray bytes) {
    return std::make_shared<const Body>(std::move(bytes));
}

HttpResponse plain(int status, const QString &line) {
    HttpResponse response;
    response.status = status;
    response.headers = {{"Content-Type", "text/plain; charset=utf-8"}};
    response.body = bodyOf(line.toUtf8() + '\n');
    return response;
}

bool acceptsGzip(const QByteArray &acceptEncoding) {
    for (const QByteArray &part : acceptEncoding.split(',')) {
        const QList<QByteArray> fields = part.split(';');
        if (fields[0].trimmed().toLower() != "gzip")
            continue;
        for (const QByteArray &field : fields.mid(1))
            if (const QByteArray q = field.trimmed();
                q.startsWith("q=") && q.mid(2).toDouble() == 0)
                return false;
        return true;
    }
    return false;
}

// Whether If-None-Match names this entity tag (or any, "*").
bool matches(const QByteArray &ifNoneMatch, const QByteArray &etag) {
    for (QByteArray tag : ifNoneMatch.split(',')) {
        tag = tag.trimmed();
        if (tag.startsWith("W/"))
            tag = tag.mid(2);
        if (tag == "*" || tag == etag)
            return true;
    }
    return false;
}

// A time as HTTP writes it (IMF-fixdate), to the second.
const QString kHttpDate = QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'");

QByteArray httpDate(const QDateTime &time) {
    return QLocale::c().toString(time.toUTC(), kHttpDate).toLatin1();
}

// Whether a snapshot's bytes are those of a client that had them as they stood at
// If-Modified-Since: its second is before that time, or it is that second and the first
// snapshot made in it (a later one in the same second would be another). A time not in the form
// this server writes, or yet to come, says nothing.
bool unmodifiedSince(const QByteArray &ifModifiedSince, const Snapshot &snapshot) {
    QDateTime since =
        QLocale::c().toDateTime(QString::fromLatin1(ifModifiedSince.trimmed()), kHttpDate);
    if (!since.isValid())
        return false;
    since.setTimeSpec(Qt::UTC);
    const qint64 asked = since.toSecsSinceEpoch();
    const qint64 changed = snapshot.changedAt().toSecsSinceEpoch();
    if (asked > QDateTime::currentSecsSinceEpoch())
        return false;
    return changed < asked || (changed == asked && snapshot.lineage().firstInItsSecond);
}

// A body of a snapshot, or of the program's, answered whole or gzipped, or as "not modified"
// when the client has it: the entity tag is the snapshot's run and generation (the program's
// version for its own files), and names the encoding. A snapshot's answer says when it was made,
// and is not sent again to a client that had it then and names no tag.
HttpResponse answer(const HttpRequest &request, std::shared_ptr<const Body> body,
                    const QByteArray &type, const QByteArray &version,
                    const QByteArray &cacheControl, const Snapshot *snapshot = nullptr) {
    HttpResponse response;
    response.body = std::move(body);
    response.gzipped = acceptsGzip(request.acceptEncoding) && response.body->bytes().size() > 256;
    const QByteArray etag = '"' + version + (response.gzipped ? "-gzip" : "") + '"';
    response.headers = {{"Content-Type", type},
                        {"ETag", etag},
                        {"Cache-Control", cacheControl},
                        {"Vary", "Accept-Encoding"}};
    if (snapshot)
        response.headers.emplace_back("Last-Modified", httpDate(snapshot->changedAt()));
    if (response.gzipped)
        response.headers.emplace_back("Content-Encoding", "gzip");
    response.way = response.gzipped ? 1 : 0;
    const bool unmodified = request.ifNoneMatch.isEmpty()
                                ? snapshot && !request.ifModifiedSince.isEmpty() &&
                                      unmodifiedSince(request.ifModifiedSince, *snapshot)
                                : matches(request.ifNoneMatch, etag);
    if (unmodified) {
        response.status = 304;
        response.way += 2;
        if (std::exchange(response.gzipped, false))
            response.headers.pop_back(); // no Content-Encoding: there is no body
    }
    return response;
}

// A canonical name of what a query shows, to make its body once per snapshot.
QByteArray keyOf(const char *place, const RowsQuery &query) {
    return QByteArray(place) + '|' + query.text.toUtf8() + '|' +
           QByteArray::number(static_cast<qlonglong>(query.page.value_or(0))) + '|' +
           QByteArray::number(static_cast<qlonglong>(query.from.value_or(0))) + '|' +
           QByteArray::number(static_cast<qlonglong>(query.count.value_or(0))) +
           (query.sinceWeek ? "|week" : "");
}

// A page past the last is not there; rows past what a search counts are not looked for.
std::optional<HttpResponse> outsideTheRows(const RowsQuery &query, const RowsView &view) {
    if (view.pastTheLast)
        return plain(404, pastTheLastText(query, view));
    if (view.pastTheCounted)
        return plain(400, QStringLiteral("A search counts its first %1 matches, and these rows "
                                         "come after them: search for more of the name")
                              .arg(grouped(Snapshot::kCountedMatches)));
    return std::nullopt;
}

HttpResponse page(const HttpRequest &request, const Snapshot &snapshot) {
    const CheckedRows checked = checkRowsQuery(request.parameters, RowsPlace::Page);
    if (!checked.error.isEmpty())
        return plain(400, checked.error);
    const RowsView view = viewOf(snapshot, checked.query);
    // A page past the last is the leaderboard's page too, with ways back to the others; its
    // address may have rows again after the next change, so it is not kept.
    if (!view.pastTheLast)
        if (auto outside = outsideTheRows(checked.query, view))
            return std::move(*outside);
    auto body = snapshot.body(keyOf("page", checked.query),
                              [&] { return leaderboardPage(snapshot, checked.query, view); });
    HttpResponse response;
    if (view.pastTheLast) {
        response.status = 404;
        response.body = std::move(body);
        response.headers = {{"Content-Type", "text/html; charset=utf-8"},
                            {"Cache-Control", "no-store"}};
    } else {
        response = answer(request, std::move(body), "text/html; charset=utf-8", snapshot.tag(),
                          kCacheControl, &snapshot);
    }
    response.headers.emplace_back("Content-Security-Policy", kPagePolicy);
    response.headers.emplace_back("Referrer-Policy", "no-referrer");
    return response;
}

HttpResponse rankingFile(const HttpRequest &request, const Snapshot &snapshot, RankingFormat format,
                         const QByteArray &type, const char *name) {
    const CheckedRows checked = checkRowsQuery(request.parameters, RowsPlace::Files);
    if (!checked.error.isEmpty())
        return plain(400, checked.error);
    const RowsQuery &query = checked.query;
    std::shared_ptr<const Body> body;
    QByteArray total;
    if (!query.any()) { // the whole ranking, as orvantis-rank writes it
        body = snapshot.body(
            name, [&] { return rankingText(snapshot.records(), &snapshot.characters(), format); },
            Snapshot::Keeping::Always);
    } else {
        const RowsView view = viewOf(snapshot, query);
        if (auto outside = outsideTheRows(query, view))
            return std::move(*outside);
        body = snapshot.body(keyOf(name, query), [&] {
            return rankingText(snapshot.records(), &snapshot.characters(), format, -1,
                               CellText::AsIs, &view.rows, true, snapshot.movements());
        });
        // The rows looked through, all or those found: counted up to a bound, and ">N" beyond.
        total = (view.moreThanTotal ? ">" : "") + QByteArray::number(view.total);
    }
    HttpResponse response =
        answer(request, std::move(body), type, snapshot.tag(), kCacheControl, &snapshot);
    response.headers.emplace_back("Access-Control-Allow-Origin", "*");
    if (!total.isEmpty()) {
        response.headers.emplace_back("X-Total-Count", total);
        response.headers.emplace_back("Access-Control-Expose-Headers", "X-Total-Count");
    }
    return response;
}

} // namespace

const QByteArray &HttpResponse::bytes() const {
    static const QByteArray none;
    if (status == 304)
        return none;
    return gzipped ? body->gzipped() : body->bytes();
}

PageFiles PageFiles::load() {
    const auto resource = [](const char *name, const char *type) {
        QFile file(QStringLiteral(":/serve/") + QLatin1String(name));
        file.open(QIODevice::ReadOnly); // in the program itself: it opens
        File made{bodyOf(file.readAll()), QByteArray(), type};
        made.tag = QCryptographicHash::hash(made.body->bytes(), QCryptographicHash::Sha256)
                       .toHex()
                       .left(16);
        return made;
    };
    return {resource("leaderboard.js", "text/javascript; charset=utf-8"),
            resource("leaderboard.css", "text/css; charset=utf-8"),
            resource("favicon.png", "image/png")};
}

bool searches(const HttpRequest &request) {
    if (request.path != "/" && !request.path.startsWith("/ranking."))
        return false;
    return std::any_of(request.parameters.begin(), request.parameters.end(),
                       [](const auto &parameter) {
                           return parameter.first == "q" && !parameter.second.isEmpty();
                       });
}

HttpResponse searchRefused(bool tooManyAtOnce, int retryAfterSeconds) {
    HttpResponse response =
        plain(429, tooManyAtOnce ? QStringLiteral("Too many searches from your address at once: "
                                                  "try again when one is answered")
                                 : QStringLiteral("Too many searches from your address: try "
                                                  "again in %1 s")
                                       .arg(retryAfterSeconds));
    response.headers.emplace_back("Retry-After", QByteArray::number(retryAfterSeconds));
    return response;
}

HttpResponse tooManyOpen(unsigned most) {
    HttpResponse response = plain(
        429, QStringLiteral("Too many requests from your address at once (%1): try again when "
                            "one is answered")
                 .arg(most));
    response.headers.emplace_back("Retry-After", "1");
    return response;
}

HttpResponse respond(const HttpRequest &request, const Snapshot &snapshot, const PageFiles &files) {
    HttpResponse response;
    if (request.method != "GET" && request.method != "HEAD") {
        response = plain(405, QStringLiteral("Only GET and HEAD are answered here"));
        response.headers.emplace_back("Allow", "GET, HEAD");
    } else if (request.path == "/") {
        response = page(request, snapshot);
    } else if (request.path == "/ranking.json") {
        response = rankingFile(request, snapshot, RankingFormat::Json, "application/json", "json");
    } else if (request.path == "/ranking.csv") {
        response = rankingFile(request, snapshot, RankingFormat::Csv,
                               "text/csv; charset=utf-8; header=present", "csv");
    } else if (request.path == "/ranking.tsv") {
        response = rankingFile(request, snapshot, RankingFormat::Tsv,
                               "text/tab-separated-values; charset=utf-8", "tsv");
    } else if (request.path == "/status") {
        response = answer(request, snapshot.body("status", [&] { return statusJson(snapshot); }),
                          "application/json", snapshot.tag(), kCacheControl, &snapshot);
        response.headers.emplace_back("Access-Control-Allow-Origin", "*");
    } else if (request.path == "/events") {
        response.eventStream = true;
        response.serving = snapshot.tag();
        response.headers = {{"Content-Type", "text/event-stream"},
                            {"Cache-Control", "no-store"},
                            {"X-Accel-Buffering", "no"}, // a proxy in front passes each event on
                            {"Access-Control-Allow-Origin", "*"}};
    } else if (const PageFiles::File *file = request.path == "/leaderboard.js"    ? &files.script
                                             : request.path == "/leaderboard.css" ? &files.style
                                             : request.path == "/favicon.ico"     ? &files.icon
                                                                                  : nullptr) {
        response = answer(request, file->body, file->type, file->tag, kFileCacheControl);
    } else {
        response = plain(404, QStringLiteral("Nothing is here"));
    }
    response.headers.emplace_back("X-Content-Type-Options", "nosniff");
    return response;
}

} // namespace orvantis
