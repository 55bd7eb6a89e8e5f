// orvantis-serve as a site runs it, spoken to over loopback sockets: the same ranking as
// orvantis-rank, changes live, its statuses, and requests no browser would send.
#include "qtprinters.h"
#include "servefixture.h"

#include <QRegularExpression>

#include <signal.h>

TEST_F(Serving, ServesTheRankingOfOrvantisRankByteForByteAndEachChangeWithinASecond) {
    start();
    for (const QByteArray format : {"json", "csv", "tsv"}) {
        const HttpReply reply = request(port, "/ranking." + format);
        EXPECT_EQ(reply.status, 200) << format.data();
        EXPECT_EQ(reply.body, rank(format)) << format.data();
        EXPECT_EQ(reply.header("X-Content-Type-Options"), "nosniff");
    }
    // Events come as the file changes: its rank in the stream, its row in the ranking.
    LoopbackConnection events(port);
    events.send("GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    const QByteArray opening =
        events.receive(5000, [](const QByteArray &got) { return got.contains("retry: 2000\n\n"); });
    ASSERT_TRUE(opening.startsWith("HTTP/1.1 200 OK\r\n")) << opening.data();
    EXPECT_TRUE(opening.contains("Content-Type: text/event-stream"));
    QElapsedTimer clock;
    clock.start();
    folder.write("accounts/evil.ini", accountFile("evil", 999999));
    const QByteArray change =
        events.receive(5000, [](const QByteArray &got) { return got.contains("event: change\n"); });
    EXPECT_TRUE(change.contains("\"ranks\": [[1, ")) << "it moved to the top: " << change.data();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return request(port, "/ranking.tsv?count=1").body.startsWith("1\tevil\t999999"); },
        5000));
    EXPECT_LT(clock.elapsed(), 1000) << "from the file's close to its row served";
    EXPECT_EQ(request(port, "/ranking.tsv").body, rank("tsv"));
    const QByteArray tag = request(port, "/ranking.tsv").header("ETag");
    EXPECT_EQ(server->stop(), 0) << "SIGTERM ends it cleanly";
    // Started again, at the same generation, on other bytes: the last run's tag is not theirs.
    folder.write("accounts/evil.ini", accountFile("evil", 999998));
    start();
    const HttpReply again = request(port, "/ranking.tsv", {"If-None-Match: " + tag});
    EXPECT_EQ(again.status, 200) << tag.data();
    EXPECT_EQ(again.body, rank("tsv"));
    // Each run draws a name of its own for its tags, whatever generation it is at.
    static const QRegularExpression tagForm("^\"([0-9a-f]{16})-g\\d+\"$");
    const QRegularExpressionMatch before = tagForm.match(QString::fromLatin1(tag));
    const QRegularExpressionMatch after = tagForm.match(QString::fromLatin1(again.header("ETag")));
    ASSERT_TRUE(before.hasMatch() && after.hasMatch()) << tag.data();
    EXPECT_NE(before.captured(1), after.captured(1));
}

// Answers are made once per body and way (whole or gzipped, 200 or 304) and sent again: each
// client still gets the way it asked for, in whatever order the ways are first asked.
TEST_F(Serving, EachClientGetsTheWayItAskedForOfAnAnswerMadeOnce) {
    start();
    const QByteArray path = "/ranking.json?from=1&count=30";
    const HttpReply first = request(port, path);
    ASSERT_FALSE(first.body.isEmpty());
    QByteArray zippedTag = first.header("ETag");
    zippedTag.insert(zippedTag.size() - 1, "-gzip");
    const QByteArray gzip = "Accept-Encoding: gzip";
    for (int round = 0; round < 2; ++round) {
        // The 304 of the gzipped way before that way's 200, then the others.
        const HttpReply notModified = request(port, path, {"If-None-Match: " + zippedTag, gzip});
        EXPECT_EQ(notModified.status, 304);
        EXPECT_TRUE(notModified.body.isEmpty());
        EXPECT_EQ(notModified.header("Content-Encoding"), "");
        const HttpReply zipped = request(port, path, {gzip});
        EXPECT_EQ(zipped.header("ETag"), zippedTag);
        EXPECT_EQ(zipped.header("Content-Encoding"), "gzip");
        EXPECT_TRUE(zipped.body.startsWith("\x1f\x8b")) << "a gzip stream";
        const HttpReply otherWay = request(port, path, {"If-None-Match: " + zippedTag});
        EXPECT_EQ(otherWay.status, 200) << "the gzipped one's tag, asked for whole";
        EXPECT_EQ(otherWay.header("Content-Encoding"), "");
        EXPECT_EQ(otherWay.body, first.body);
        const HttpReply head = request(port, path, {}, "HEAD");
        EXPECT_EQ(head.status, 200);
        EXPECT_TRUE(head.body.isEmpty());
    }
    EXPECT_EQ(server->stop(), 0);
}

TEST_F(Serving, AnswersOnlyWhatItShouldAndKeepsServingThroughBadRequests) {
    start({"--idle-timeout", "2"});
    // Half a request, then silence: it waits, and others are answered meanwhile.
    LoopbackConnection half(port);
    half.send("GET /ranking.json HTTP/1.1\r\nHost: 127.0.0.1\r\n");
    struct Row {
        QByteArray sent;
        QList<int> statuses; // any of them, or 0 for a connection closed without one
    };
    const QByteArray bigHeaders = "X-Big: " + QByteArray(100 * 1024, 'x') + "\r\n";
    QByteArray parameters = "p=0";
    for (int i = 1; i < 300; ++i)
        parameters += "&p=" + QByteArray::number(i);
    // A browser's cookies: one as big as it takes, and as many as it keeps for a site.
    const QByteArray browsersCookie = "Cookie: a=" + QByteArray(15000, 'c');
    QByteArray manyCookies = "Cookie: c0=" + QByteArray(40, 'c');
    for (int i = 1; i < 180; ++i)
        manyCookies += "; c" + QByteArray::number(i) + '=' + QByteArray(40, 'c');
    const Row rows[] = {
        {"BREW / HTTP/1.1\r\nHost: a\r\n\r\n", {405}},
        {"POST /status HTTP/1.1\r\nHost: a\r\nContent-Length: 5\r\n\r\nhello", {405}},
        {"GET /../../etc/passwd HTTP/1.1\r\nHost: a\r\n\r\n", {404}},
        {"GET /%2e%2e/%2e%2e/etc/passwd HTTP/1.1\r\nHost: a\r\n\r\n", {404}},
        {"GET /ranking.json?count=99999 HTTP/1.1\r\nHost: a\r\n\r\n", {400}},
        {"GET /?q=" + QByteArray(10 * 1024, 'q') + " HTTP/1.1\r\nHost: a\r\n\r\n", {414}},
        {"GET /?" + parameters + " HTTP/1.1\r\nHost: a\r\n\r\n", {400}},
        // As many as fit in a target, more than the connection's memory keeps.
        {"GET /?" + QByteArray(4000, 'a').replace("a", "a&") + " HTTP/1.1\r\nHost: a\r\n\r\n",
         {400}},
        {"GET /a b HTTP/1.1\r\nHost: a\r\n\r\n", {400}},
        {"GET /\r\n\r\n", {400, 505, 0}},
        {"GET / HTTP/1.1\r\nHost: a\r\n" + bigHeaders + "\r\n", {431}},
        {"GET / HTTP/1.1\r\nHost: a\r\n" + browsersCookie + "\r\n\r\n", {200}},
        {"GET / HTTP/1.1\r\nHost: a\r\n" + manyCookies + "\r\n\r\n", {200}},
        {"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03 not http at all\r\n\r\n", {400, 0}},
        // Framed in ways a proxy in front may read otherwise: refused, never guessed at.
        {"GET / HTTP/1.1\r\n\r\n", {400}},
        {"GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", {400}},
        {"GET / HTTP/1.1\r\nHost : a\r\n\r\n", {400}},
        {"GET / HTTP/1.1\r\nHost: a\r\nAccept-Encoding : gzip\r\n\r\n", {400}},
        {"GET / HTTP/1.1\r\nHost: a\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab", {400}},
        {"GET / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: gzip\r\n\r\n", {400}},
        {"GET / HTTP/1.1\r\nHost: a\r\nContent-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n"
         "0\r\n\r\n",
         {400}},
        {"GET /ranking.json?q=a%00b HTTP/1.1\r\nHost: a\r\n\r\n", {400}},
        {"GET http://a/ranking.json?count=1 HTTP/1.1\r\nHost: a\r\n\r\n", {200}},
    };
    for (const Row &row : rows) {
        LoopbackConnection connection(port);
        ASSERT_TRUE(connection.connected());
        connection.send(row.sent);
        // Its answer whole, by its length: an answer written twice shows in its body.
        const QByteArray got = connection.receive(5000, [](const QByteArray &bytes) {
            const HttpReply reply = parseReply(bytes);
            return reply.status != 0 &&
                   reply.body.size() >= reply.header("Content-Length").toLongLong();
        });
        const HttpReply reply = parseReply(got);
        EXPECT_TRUE(row.statuses.contains(reply.status))
            << row.sent.left(40).toStdString() << " -> " << got.left(80).toStdString();
        EXPECT_FALSE(got.contains("\nHTTP/1.")) << "answered once: " << got.data();
        EXPECT_EQ(request(port, "/status").status, 200)
            << "still serving after " << row.sent.left(40).toStdString();
    }
    EXPECT_EQ(request(port, "/ranking.json?count=1").status, 200);
    half.receive(5000); // closed when its idle time is up
    EXPECT_TRUE(half.closed()) << "a client that says nothing more is let go";
    EXPECT_EQ(server->stop(), 0);
}

TEST_F(Serving, TheFolderRulesStatusesAndTextsAreThoseOfOrvantisRank) {
    TempFolder empty;
    const ProgramRun missing =
        runProgram(ORVANTIS_SERVE_EXE, {"--listen", "127.0.0.1:0", empty.path().toUtf8()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "Accounts folder not found!\norvantis-serve: no entry named exactly "
                           "\"accounts\" in " +
                               empty.path().toUtf8() + "\n");
    const ProgramRun usage = runProgram(ORVANTIS_SERVE_EXE, {"--listen", "localhost:80"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_TRUE(usage.err.contains("--listen takes a numeric address and a port"))
        << usage.err.data();
    EXPECT_EQ(runProgram(ORVANTIS_SERVE_EXE, {"--max-per-address", "0"}).status, 2);

    start();
    const ProgramRun taken =
        runProgram(ORVANTIS_SERVE_EXE,
                   {"--listen", "127.0.0.1:" + QByteArray::number(port), folder.path().toUtf8()});
    EXPECT_EQ(taken.status, 69) << "an address in use";
    EXPECT_EQ(taken.err, "orvantis-serve: cannot listen on 127.0.0.1:" + QByteArray::number(port) +
                             ": Address already in use\n");
    const ProgramRun help = runProgram(ORVANTIS_SERVE_EXE, {"--help"});
    EXPECT_TRUE(help.out.contains("  69  the address cannot be listened on"));
    EXPECT_TRUE(help.out.contains("--listen ADDRESS:PORT"));
    EXPECT_EQ(server->stop(), 0);
}
