// The server's parts without a network: escaping for each place a name goes, the query's
// parameters, the answers of each path, the ranks a change touches, and the event stream.
#include "accountfiles.h"
#include "qtprinters.h"
#include "tempfolder.h"

#include "formats/accountranking.h"
#include "scan/reading/scanaccounts.h"
#include "serve/changedranks.h"
#include "serve/clientaddress.h"
#include "serve/escaping.h"
#include "serve/eventstream.h"
#include "serve/ratedlog.h"
#include "serve/router.h"
#include "serve/rowsquery.h"
#include "serve/searchgate.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <zlib.h>

#include <cstring>
#include <thread>

using namespace orvantis;

namespace {

// Names players choose to break pages: markup, quotes, control characters, line and paragraph
// separators, a writing direction turned around, and text of a Windows-1252 file.
const QString kHostile[] = {
    QStringLiteral("<img src=x onerror=alert(1)>"),
    QStringLiteral("\"><script>alert(1)</script>"),
    QStringLiteral("a&amp;b 'single' \"double\""),
    QStringLiteral("bell\x07 escape\x1b[31m nul-less \x7f del"),
    QString::fromUtf16(u"line\u2028paragraph\u2029end"),
    QString::fromUtf16(u"\u202Egnp.exe"),
    QString::fromUtf16(u"Br\u00f6tchen \u2013 \u0080\u009f"),
    QStringLiteral("</textarea></title><!--"),
};

QString decoded(const QByteArray &utf8) {
    return QString::fromUtf8(utf8);
}

} // namespace

TEST(Escaping, HtmlTextAndAttributesTakeNoMarkupFromAName) {
    for (const QString &name : kHostile) {
        const QString text = decoded(htmlText(name));
        EXPECT_FALSE(text.contains(u'<') || text.contains(u'>')) << text.toStdString();
        const QString attribute = decoded(htmlAttribute(name));
        EXPECT_FALSE(attribute.contains(u'<') || attribute.contains(u'"') ||
                     attribute.contains(u'\''))
            << attribute.toStdString();
        // Every other character is kept: the name reads as the window shows it.
        QString back = attribute;
        back.replace("&quot;", "\"")
            .replace("&#39;", "'")
            .replace("&lt;", "<")
            .replace("&gt;", ">");
        back.replace("&amp;", "&");
        EXPECT_EQ(back, name);
    }
    EXPECT_EQ(htmlText(u"a<b>&c\"'"), "a&lt;b&gt;&amp;c\"'");
    EXPECT_EQ(htmlAttribute(u"a<b>&c\"'"), "a&lt;b&gt;&amp;c&quot;&#39;");
}

TEST(Escaping, JsonStringsAreOneLineAndReadBackWhole) {
    for (const QString &name : kHostile) {
        const QByteArray json = jsonString(name);
        for (char c : json)
            EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == '<' || c == '>' || c == '&')
                << json.toStdString();
        EXPECT_FALSE(decoded(json).contains(QChar(0x2028)) ||
                     decoded(json).contains(QChar(0x2029)));
        QJsonParseError error{};
        const QJsonDocument parsed = QJsonDocument::fromJson("[" + json + "]", &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << json.toStdString();
        EXPECT_EQ(parsed.array()[0].toString(), name);
    }
}

TEST(RowsQuery, EachBadParameterIsRefusedWithItsReason) {
    struct Row {
        QueryParameters parameters;
        RowsPlace place;
        const char *error; // empty when it is good
    };
    const QByteArray longText(RowsQuery::kMaxText + 1, 'x');
    const Row rows[] = {
        {{}, RowsPlace::Page, ""},
        {{{"page", "2"}, {"q", "ann"}, {"utm_source", "x"}}, RowsPlace::Page, ""},
        {{{"page", "-1"}}, RowsPlace::Page, "page takes a whole number from 1"},
        {{{"page", "0"}}, RowsPlace::Page, "page takes a whole number from 1"},
        {{{"page", "1e3"}}, RowsPlace::Page, "page takes a whole number from 1"},
        {{{"page", ""}}, RowsPlace::Page, "page takes a whole number from 1"},
        {{{"from", "x"}}, RowsPlace::Files, "from takes a whole number from 1"},
        {{{"from", "x"}}, RowsPlace::Page, ""}, // not the page's parameter
        {{{"count", "99999"}}, RowsPlace::Files, "count takes a whole number from 1 to 1000"},
        {{{"count", "1000"}}, RowsPlace::Files, ""},
        {{{"from", "3"}, {"page", "2"}}, RowsPlace::Files, "page and from cannot both be given"},
        {{{"q", "a"}, {"q", "b"}}, RowsPlace::Files, "q is given more than once"},
        {{{"q", longText}}, RowsPlace::Page, "q takes at most 100 characters"},
        {{{"q", "\xff\xfe"}}, RowsPlace::Page, "q is not UTF-8 text"},
        {{{"page", "99999999999999999999"}}, RowsPlace::Page, "page takes a whole number from 1"},
    };
    for (const Row &row : rows) {
        const CheckedRows checked = checkRowsQuery(row.parameters, row.place);
        EXPECT_EQ(checked.error, QString::fromUtf8(row.error))
            << (row.parameters.empty() ? "" : row.parameters[0].second.left(20).toStdString());
    }
    const CheckedRows good =
        checkRowsQuery({{"q", "An"}, {"from", "5"}, {"count", "7"}}, RowsPlace::Files);
    EXPECT_EQ(good.query.text, "An");
    EXPECT_EQ(good.query.from, 5);
    EXPECT_EQ(good.query.count, 7);
}

namespace {

// A snapshot of a folder's ranking as the server makes it, and a request to answer from it.
class Answering : public ::testing::Test {
protected:
    void SetUp() override {
        for (int n = 0; n < 250; ++n)
            folder.write(QStringLiteral("accounts/p%1.ini").arg(n, 3, 10, QLatin1Char('0')),
                         accountFile("player" + QByteArray::number(n), 1000 - n));
        folder.write("accounts/tie.ini", accountFile("tied", {"7", "7"}));
        folder.write("accounts/evil.ini", accountFile("<b>evil</b>", 500));
        snapshot = std::make_unique<Snapshot>(LiveRanking(scanAccounts(folder.path())), 7,
                                              changedAt, FolderHealth{}, SearchIndex(),
                                              TouchedPlaces(), Lineage{"run1", true});
    }
    HttpResponse get(const QByteArray &path, QueryParameters parameters = {},
                     const QByteArray &acceptEncoding = {}, const QByteArray &ifNoneMatch = {},
                     const QByteArray &ifModifiedSince = {}) {
        return respond(
            {"GET", path, std::move(parameters), acceptEncoding, ifNoneMatch, ifModifiedSince},
            *snapshot, files);
    }
    static QByteArray header(const HttpResponse &response, const QByteArray &name) {
        for (const auto &[key, value] : response.headers)
            if (key == name)
                return value;
        return QByteArray();
    }

    TempFolder folder;
    const QDateTime changedAt{QDate(2026, 12, 8), QTime(13, 4, 5, 600), Qt::UTC};
    std::unique_ptr<Snapshot> snapshot;
    PageFiles files = PageFiles::load();
};

QByteArray gunzip(const QByteArray &bytes) {
    z_stream stream{};
    inflateInit2(&stream, 15 + 16);
    QByteArray out(1 << 20, Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.constData()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    inflate(&stream, Z_FINISH);
    out.truncate(static_cast<qsizetype>(stream.total_out));
    inflateEnd(&stream);
    return out;
}

} // namespace

TEST_F(Answering, EachPathAnswersAndNoOtherDoes) {
    struct Row {
        const char *method, *path;
        int status;
        const char *type;
    };
    const Row rows[] = {
        {"GET", "/", 200, "text/html; charset=utf-8"},
        {"HEAD", "/", 200, "text/html; charset=utf-8"},
        {"GET", "/ranking.json", 200, "application/json"},
        {"GET", "/ranking.csv", 200, "text/csv; charset=utf-8; header=present"},
        {"GET", "/ranking.tsv", 200, "text/tab-separated-values; charset=utf-8"},
        {"GET", "/status", 200, "application/json"},
        {"GET", "/leaderboard.js", 200, "text/javascript; charset=utf-8"},
        {"GET", "/leaderboard.css", 200, "text/css; charset=utf-8"},
        {"GET", "/events", 200, "text/event-stream"},
        {"GET", "/../etc/passwd", 404, "text/plain; charset=utf-8"},
        {"GET", "/ranking.json/", 404, "text/plain; charset=utf-8"},
        {"GET", "/index.html", 404, "text/plain; charset=utf-8"},
        {"POST", "/", 405, "text/plain; charset=utf-8"},
        {"DELETE", "/status", 405, "text/plain; charset=utf-8"},
        {"OPTIONS", "/", 405, "text/plain; charset=utf-8"},
    };
    for (const Row &row : rows) {
        const HttpResponse response =
            respond({row.method, row.path, {}, {}, {}, {}}, *snapshot, files);
        EXPECT_EQ(response.status, row.status) << row.method << ' ' << row.path;
        EXPECT_EQ(header(response, "Content-Type"), row.type) << row.path;
        EXPECT_EQ(header(response, "X-Content-Type-Options"), "nosniff") << row.path;
        if (row.status == 405) {
            EXPECT_EQ(header(response, "Allow"), "GET, HEAD");
        }
    }
}

TEST_F(Answering, TheWholeRankingIsTheConsoleRankingAndASliceCarriesRanks) {
    EXPECT_EQ(get("/ranking.tsv").bytes(),
              rankingText(snapshot->records(), &snapshot->characters(), RankingFormat::Tsv));
    const QJsonArray slice =
        QJsonDocument::fromJson(get("/ranking.json", {{"from", "249"}, {"count", "5"}}).bytes())
            .array();
    ASSERT_EQ(slice.size(), 4); // 252 accounts: ranks 249 to 252
    EXPECT_EQ(slice[0].toObject()["rank"].toInt(), 249);
    EXPECT_EQ(slice[3].toObject()["login"].toString(), "tied");
    EXPECT_EQ(slice[3].toObject()["level"].toInt(), 0);
    EXPECT_EQ(slice[3].toObject()["tiedLevel"].toInt(), 7);
    const QByteArray csv = get("/ranking.csv", {{"q", "PLAYER24"}, {"count", "2"}}).bytes();
    EXPECT_EQ(csv, "Rank,Username,Highest Level,Char No.,Char Name\r\n"
                   "25,player24,976,1,One\r\n"
                   "241,player240,760,1,One\r\n");
    EXPECT_EQ(get("/ranking.tsv", {{"page", "3"}}).bytes().count('\n'), 52);
    EXPECT_EQ(get("/ranking.tsv", {{"page", "4"}}).status, 404);
    EXPECT_EQ(get("/ranking.json", {{"count", "0"}}).status, 400);
    EXPECT_EQ(header(get("/ranking.json"), "Access-Control-Allow-Origin"), "*");
}

TEST_F(Answering, ThePageShowsAPageOfRowsWithItsLinksAndEveryNameAsText) {
    const QString page = decoded(get("/", {{"page", "2"}}).bytes());
    EXPECT_EQ(page.count("<tr><td>"), 100);
    EXPECT_TRUE(page.contains("<tr><td>101</td><td>player100</td><td>900</td>")) << "rank 101";
    const QString last = decoded(get("/", {{"page", "3"}}).bytes());
    EXPECT_TRUE(last.contains("<td>&lt;b&gt;evil&lt;/b&gt;</td>"));
    EXPECT_FALSE(last.contains("<b>evil"));
    EXPECT_TRUE(page.contains("href=\"./?page=3\" rel=\"next\""));
    EXPECT_TRUE(page.contains("href=\"./\" rel=\"first\""));
    EXPECT_TRUE(page.contains("<span>Page 2 of 3</span>"));
    const QString found = decoded(get("/", {{"q", "\"><img src=x>"}}).bytes());
    EXPECT_TRUE(found.contains("value=\"&quot;&gt;&lt;img src=x&gt;\"")) << "the search box";
    EXPECT_FALSE(found.contains("<img"));
    const HttpResponse response = get("/");
    EXPECT_TRUE(header(response, "Content-Security-Policy").contains("script-src 'self'"));
    EXPECT_FALSE(header(response, "Content-Security-Policy").contains("unsafe-inline"));
    EXPECT_TRUE(header(response, "Content-Security-Policy").contains("frame-ancestors 'none'"));
    EXPECT_EQ(header(response, "Referrer-Policy"), "no-referrer");
    // Past the last page: the leaderboard's page still, saying so, with the way back.
    const HttpResponse gone = get("/", {{"page", "4"}});
    EXPECT_EQ(gone.status, 404);
    EXPECT_EQ(header(gone, "Content-Type"), "text/html; charset=utf-8");
    const QString missing = decoded(gone.bytes());
    EXPECT_TRUE(missing.contains("<caption>There is no page 4: the last is 3</caption>"));
    EXPECT_TRUE(missing.contains("href=\"./\" rel=\"first\"")) << missing.toStdString();
    EXPECT_TRUE(missing.contains("href=\"./?page=3\" rel=\"last\""));
    EXPECT_EQ(missing.count("<tr><td>"), 0);
    EXPECT_EQ(get("/ranking.json", {{"page", "4"}}).status, 404);
    EXPECT_EQ(get("/", {{"page", "x"}}).status, 400);
}

TEST_F(Answering, AnswersAreTaggedByGenerationGzippedWhenAskedAndNotSentAgain) {
    const HttpResponse plain = get("/ranking.json");
    EXPECT_EQ(header(plain, "ETag"), "\"run1-g7\"");
    EXPECT_EQ(header(plain, "Cache-Control"), "public, max-age=1");
    EXPECT_EQ(header(plain, "Vary"), "Accept-Encoding");
    EXPECT_FALSE(plain.gzipped);
    const HttpResponse zipped = get("/ranking.json", {}, "deflate, gzip;q=0.8");
    ASSERT_TRUE(zipped.gzipped);
    EXPECT_EQ(header(zipped, "ETag"), "\"run1-g7-gzip\"");
    EXPECT_EQ(header(zipped, "Content-Encoding"), "gzip");
    EXPECT_EQ(gunzip(zipped.bytes()), plain.bytes());
    EXPECT_EQ(zipped.body.get(), get("/ranking.json", {}, "gzip").body.get()) << "made once";
    EXPECT_FALSE(get("/ranking.json", {}, "gzip;q=0").gzipped);
    const HttpResponse again = get("/ranking.json", {}, "gzip", "\"run1-g6\", \"run1-g7-gzip\"");
    EXPECT_EQ(again.status, 304);
    EXPECT_TRUE(again.bytes().isEmpty());
    EXPECT_EQ(header(again, "Content-Encoding"), "");
    EXPECT_EQ(get("/ranking.json", {}, {}, "\"run1-g7-gzip\"").status, 200) << "another encoding";
    EXPECT_EQ(get("/ranking.json", {}, {}, "\"run0-g7\"").status, 200) << "another run's";
}

// /status says whether the folder is followed as it stands: never "following" while its watch
// could not be made, each thing not followed named, and a read that fails with its time.
TEST_F(Answering, StatusSaysWhatIsNotFollowedAndWhatFailed) {
    const auto status = [&](const FolderHealth &health) {
        snapshot = std::make_unique<Snapshot>(LiveRanking(scanAccounts(folder.path())), 9,
                                              changedAt, health, SearchIndex(), TouchedPlaces(),
                                              Lineage{"run1", true});
        return QJsonDocument::fromJson(get("/status").bytes()).object();
    };
    const auto failure = [](const QString &text) {
        ScanFailure problem;
        problem.what = ScanFailure::WatchUnavailable;
        problem.text = text;
        return problem;
    };
    FolderHealth health;
    health.following.on = true;
    EXPECT_TRUE(status(health)["following"].toBool());
    EXPECT_TRUE(status(health)["notFollowed"].toArray().isEmpty());
    EXPECT_TRUE(status(health)["readFailure"].isNull());
    health.following.gaps = {failure("a.ini is a link: its changes are not seen")};
    EXPECT_TRUE(status(health)["following"].toBool()) << "a gap is said, the folder followed";
    health.following.problem = failure("cannot watch for changes: No space left on device");
    const QJsonObject refused = status(health);
    EXPECT_FALSE(refused["following"].toBool()) << "a watch refused";
    EXPECT_EQ(refused["notFollowed"].toArray().size(), 2);
    EXPECT_EQ(refused["notFollowed"][0].toString(), health.following.problem->text);
    health.readFailure = failure("the accounts folder no longer exists");
    health.failingSince = changedAt;
    const QJsonObject failing = status(health)["readFailure"].toObject();
    EXPECT_EQ(failing["reason"].toString(), "the accounts folder no longer exists");
    EXPECT_EQ(failing["since"].toString(), "2026-12-08T13:04:05Z");
}

// A snapshot says when it was made; a client that had it then, and names no tag, is not sent it
// again, unless another snapshot may have come in the same second.
TEST_F(Answering, AnswersSayWhenTheyWereMadeAndAnswerIfModifiedSince) {
    const QByteArray made = header(get("/ranking.csv"), "Last-Modified");
    EXPECT_EQ(made, "Tue, 08 Dec 2026 13:04:05 GMT");
    EXPECT_EQ(get("/", {}, {}, {}, made).status, 304);
    EXPECT_EQ(get("/ranking.json", {}, {}, {}, "Tue, 08 Dec 2026 13:04:06 GMT").status, 304);
    EXPECT_EQ(get("/status", {}, {}, {}, "Tue, 08 Dec 2026 13:04:04 GMT").status, 200);
    EXPECT_EQ(get("/", {}, {}, {}, "Tue, 08 Dec 2026 13:04:05 UTC").status, 200) << "not its form";
    EXPECT_EQ(get("/", {}, {}, {}, "Tue, 08 Dec 2099 13:04:05 GMT").status, 200) << "yet to come";
    EXPECT_EQ(get("/", {}, {}, "\"run1-g6\"", made).status, 200) << "a tag is asked first";
    snapshot = std::make_unique<Snapshot>(LiveRanking(scanAccounts(folder.path())), 8, changedAt,
                                          FolderHealth{}, SearchIndex(), TouchedPlaces(),
                                          Lineage{"run1", false});
    EXPECT_EQ(get("/", {}, {}, {}, made).status, 200) << "the second's second snapshot";
    EXPECT_EQ(get("/", {}, {}, {}, "Tue, 08 Dec 2026 13:04:06 GMT").status, 304);
}

TEST(ChangedRanks, StepsTouchTheRanksTheyMove) {
    ChangedRanks changed;
    changed.rowChanged(4);     // rank 5
    changed.beginMove(20, 10); // ranks 11 to 21
    changed.beginMove(11, 30); // ranks 12 to 31, joining the one before
    changed.rowChanged(40);    // rank 41
    const std::vector<ChangedRanks::Range> first = changed.take();
    EXPECT_EQ(first, (std::vector<ChangedRanks::Range>{{5, 5}, {11, 31}, {41, 41}}));
    EXPECT_TRUE(changed.take().empty()) << "taken";
    changed.beginInsert(6);
    changed.rowChanged(2);
    EXPECT_EQ(changed.take(), (std::vector<ChangedRanks::Range>{{3, 3}, {7, ChangedRanks::kLast}}));
    changed.beginRemove(0);
    changed.beginInsert(9);
    EXPECT_EQ(changed.take(), (std::vector<ChangedRanks::Range>{{1, ChangedRanks::kLast}}));
}

namespace {

// What a client of the stream reads until it is parked or the stream ends.
QByteArray readAll(EventClient &client, bool *parked = nullptr) {
    QByteArray got;
    char buffer[7]; // small pieces: an event goes out in several
    for (;;) {
        bool wasParked = false;
        const int64_t n = client.read(buffer, sizeof buffer, [&] { wasParked = true; });
        if (n == EventClient::kEnd || wasParked) {
            if (parked)
                *parked = wasParked;
            return got;
        }
        got.append(buffer, n);
    }
}

} // namespace

TEST(EventStream, ClientsGetEachEventOnceAndAReloadForWhatTheyMissed) {
    EventStream stream;
    stream.publish(1, "reload", "{}");
    int woken = 0;
    auto client = stream.connect(std::nullopt, [&] { ++woken; });
    bool parked = false;
    EXPECT_EQ(readAll(*client, &parked), "retry: 2000\n\n");
    EXPECT_TRUE(parked);
    stream.publish(2, "change", "{\"ranks\": [[1, 1]]}");
    EXPECT_EQ(woken, 1) << "a parked client is woken";
    EXPECT_EQ(readAll(*client), "id: 2\nevent: change\ndata: {\"ranks\": [[1, 1]]}\n\n");
    stream.heartbeat();
    EXPECT_EQ(readAll(*client), ": heartbeat\n\n");

    // Back with the last id it saw: what came since, when it is kept; else one reload.
    stream.publish(3, "change", "{}");
    auto back = stream.connect(2, [] {});
    EXPECT_EQ(readAll(*back), "retry: 2000\n\nid: 3\nevent: change\ndata: {}\n\n");
    for (uint64_t g = 4; g <= 4 + EventStream::kKept; ++g)
        stream.publish(g, "change", "{}");
    const uint64_t latest = 4 + EventStream::kKept; // the log begins after generation 4 now
    // At the log's edge: the first event kept is the next it needs, so it gets every one.
    const QByteArray edge = readAll(*stream.connect(4, [] {}));
    EXPECT_TRUE(edge.startsWith("retry: 2000\n\nid: 5\nevent: change\n")) << edge.left(60).data();
    EXPECT_FALSE(edge.contains("reload"));
    auto late = stream.connect(3, [] {});
    EXPECT_EQ(readAll(*late),
              "retry: 2000\n\nid: " + QByteArray::number(latest) + "\nevent: reload\ndata: {}\n\n");
    EXPECT_EQ(readAll(*back), "id: " + QByteArray::number(latest) + "\nevent: reload\ndata: {}\n\n")
        << "a client that read nothing while the log went on gets one reload, not every event";
    auto stranger = stream.connect(latest + 50, [] {}); // from a server that ran before
    EXPECT_TRUE(readAll(*stranger).contains("event: reload"));
    // A page is told at once which generation is served, to see whether it shows another.
    EXPECT_EQ(readAll(*stream.connect(
                  std::nullopt, [] {}, "run1-g9")),
              "retry: 2000\n\nevent: serving\ndata: {\"generation\": \"run1-g9\"}\n\n");

    EXPECT_EQ(stream.clients(), 4u); // the edge's client is gone
    stream.end();
    EXPECT_EQ(client->read(nullptr, 0, [] {}), EventClient::kEnd);
    client.reset();
    EXPECT_EQ(stream.clients(), 3u);
}

TEST(RatedLog, AFloodOfLinesIsSaidAsAFewAndACount) {
    QStringList said;
    RatedLog log([&](const QString &line) { said << line; }, std::chrono::milliseconds(200), 3);
    for (int i = 0; i < 1000; ++i)
        log.say(QStringLiteral("client %1 refused").arg(i));
    EXPECT_EQ(said, (QStringList{"client 0 refused", "client 1 refused", "client 2 refused"}));
    log.flush(); // the period is not over: nothing yet
    EXPECT_EQ(said.size(), 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    log.flush();
    ASSERT_EQ(said.size(), 4);
    EXPECT_TRUE(said[3].startsWith("997 more such lines in the last ")) << said[3].toStdString();
    log.say(QStringLiteral("a new period"));
    EXPECT_EQ(said.last(), "a new period");
}

// X-Forwarded-For is believed only as far as trusted proxies appended it: what a client sends
// itself, to its left, never names it.
TEST(TrustedProxies, NameTheClientTheirOwnHopsAppended) {
    QString bad;
    const std::optional<TrustedProxies> proxies =
        TrustedProxies::parse({"127.0.0.1", "10.0.0.0/8", "2001:db8::/32"}, bad);
    ASSERT_TRUE(proxies);
    const auto client = [&](const char *peer, const QList<QByteArray> &forwarded) {
        return proxies->clientOf(ClientAddress::parse(peer), forwarded).text();
    };
    EXPECT_EQ(client("203.0.113.9", {"198.51.100.7"}), "203.0.113.9") << "not a proxy's word";
    EXPECT_EQ(client("127.0.0.1", {}), "127.0.0.1");
    EXPECT_EQ(client("127.0.0.1", {"6.6.6.6, 198.51.100.7"}), "198.51.100.7");
    EXPECT_EQ(client("127.0.0.1", {"6.6.6.6", "198.51.100.7"}), "198.51.100.7") << "two headers";
    EXPECT_EQ(client("127.0.0.1", {"198.51.100.7, 10.1.2.3"}), "198.51.100.7")
        << "through two trusted proxies";
    EXPECT_EQ(client("127.0.0.1", {"198.51.100.7, not-an-address, 10.1.2.3"}), "10.1.2.3")
        << "nothing past a hop that names no address";
    EXPECT_EQ(client("127.0.0.1", {"10.9.9.9"}), "10.9.9.9") << "only trusted ones";
    EXPECT_EQ(client("::ffff:127.0.0.1", {" [2001:db9::5] "}), "2001:db9::5");
    EXPECT_EQ(client("2001:db8:ff::1", {"198.51.100.7"}), "198.51.100.7");
    // One client over either kind of socket; an IPv6 host by its /64.
    EXPECT_EQ(ClientAddress::parse("::ffff:198.51.100.7").key(),
              ClientAddress::parse("198.51.100.7").key());
    EXPECT_EQ(ClientAddress::parse("2001:db8:1:2::1").key(),
              ClientAddress::parse("2001:db8:1:2:ffff::9").key());
    for (const char *notOne : {"localhost", "10.0.0.0/33", "::1/129", "10.0.0.0/", ""}) {
        EXPECT_FALSE(TrustedProxies::parse({notOne}, bad)) << notOne;
        EXPECT_EQ(bad, notOne);
    }
}

TEST(SearchGate, AnAddressHasItsBurstThenItsRateAndAFewAtOnce) {
    using namespace std::chrono_literals;
    SearchGate gate({2, 10, 3}); // 2 at once, 10 a second, a burst of 3
    const SearchGate::Clock::time_point start{};
    const std::string one("\x7f\0\0\1", 4), other("\x7f\0\0\2", 4);
    using Verdict = SearchGate::Verdict;
    EXPECT_EQ(gate.enter(one, start).kind, Verdict::Pass);
    EXPECT_EQ(gate.enter(one, start).kind, Verdict::Pass);
    EXPECT_EQ(gate.enter(one, start).kind, Verdict::TooManyAtOnce);
    EXPECT_EQ(gate.enter(other, start).kind, Verdict::Pass) << "another address has its own";
    gate.leave(one);
    EXPECT_EQ(gate.enter(one, start).kind, Verdict::Pass) << "the third of the burst";
    gate.leave(one);
    gate.leave(one);
    const Verdict tooFast = gate.enter(one, start + 50ms);
    EXPECT_EQ(tooFast.kind, Verdict::TooFast);
    EXPECT_EQ(tooFast.retryAfterSeconds, 1);
    EXPECT_EQ(gate.enter(one, start + 100ms).kind, Verdict::Pass) << "a token a tenth of a second";
    gate.leave(one);
    EXPECT_EQ(gate.enter(one, start + 150ms).kind, Verdict::TooFast);

    // The slowest rate says how long to wait; IPv6 addresses count by their /64.
    SearchGate slow({4, 1, 1});
    sockaddr_in6 a{}, b{};
    a.sin6_family = b.sin6_family = AF_INET6;
    ::inet_pton(AF_INET6, "2001:db8:1:2::1", &a.sin6_addr);
    ::inet_pton(AF_INET6, "2001:db8:1:2:ffff::9", &b.sin6_addr);
    const std::string network = ClientAddress::of(reinterpret_cast<sockaddr *>(&a)).key();
    EXPECT_EQ(network, ClientAddress::of(reinterpret_cast<sockaddr *>(&b)).key());
    EXPECT_EQ(slow.enter(network, start).kind, Verdict::Pass);
    const Verdict wait = slow.enter(network, start + 200ms);
    EXPECT_EQ(wait.kind, Verdict::TooFast);
    EXPECT_EQ(wait.retryAfterSeconds, 1);

    // A flood of addresses: the table keeps its bound, and those it cannot keep go uncounted.
    SearchGate many({1, 1, 1});
    std::string address(4, '\0');
    for (uint32_t n = 0; n < SearchGate::kMostAddresses + 10; ++n) {
        std::memcpy(address.data(), &n, sizeof n);
        ASSERT_EQ(many.enter(address, start).kind, Verdict::Pass);
    }
    std::memcpy(address.data(), "\0\0\0\0", 4);
    EXPECT_EQ(many.enter(address, start).kind, Verdict::TooManyAtOnce) << "a counted one is kept";
}
