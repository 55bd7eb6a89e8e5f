// orvantis-serve against clients that mean it harm or are merely broken, and against faults of
// its own host: slow senders and readers, floods from one address, oversized and pipelined
// requests, too few descriptors, the accounts folder gone. Counts and times are scaled down
// from what tools/bench runs; the paths are the same.
#include "qtprinters.h"
#include "servefixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

using Connections = std::vector<std::unique_ptr<LoopbackConnection>>;

// The first page over ::1, which a flood from 127.0.0.1 does not count against: its time in ms,
// or -1 when it is not answered.
qint64 firstPageTime(uint16_t port6) {
    QElapsedTimer clock;
    clock.start();
    const HttpReply reply = request(port6, "/", {}, "GET", LoopbackConnection::V6);
    return reply.status == 200 && reply.body.contains("</table>") ? clock.elapsed() : -1;
}

// How many of the connections the server has closed, waiting `ms` for it.
int closedOf(Connections &connections, int ms) {
    QTest::qWait(ms);
    int closed = 0;
    for (auto &connection : connections) {
        connection->take(65536);
        closed += connection->closed() ? 1 : 0;
    }
    return closed;
}

qint64 residentKiB(const BackgroundRun &run) {
    QFile status(QStringLiteral("/proc/%1/status").arg(run.pid()));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// The states of the server's IPv4 connections on `port`, from /proc/net/tcp (the kernel's own
// view, which no client has): each its state ("01" established, "08" CLOSE-WAIT: the client has
// closed, the server not yet) and the bytes waiting in its send queue.
struct ServerSocket {
    QByteArray state;
    qint64 sendQueue;
};
std::vector<ServerSocket> serverSockets(uint16_t port) {
    QFile table(QStringLiteral("/proc/net/tcp"));
    std::vector<ServerSocket> sockets;
    if (!table.open(QIODevice::ReadOnly))
        return sockets;
    const QByteArray local = ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray &line : table.readAll().split('\n').mid(1)) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 4 && fields[1].endsWith(local) && fields[2] != "00000000:0000")
            sockets.push_back({fields[3], fields[4].split(':')[0].toLongLong(nullptr, 16)});
    }
    return sockets;
}

// Whether the server has let go of every connection on `port` within `ms`: none established or
// left in CLOSE-WAIT.
bool letGoOfAll(uint16_t port, int ms) {
    const auto holding = [port] {
        const std::vector<ServerSocket> sockets = serverSockets(port);
        return std::any_of(sockets.begin(), sockets.end(), [](const ServerSocket &socket) {
            return socket.state == "01" || socket.state == "08";
        });
    };
    QElapsedTimer clock;
    clock.start();
    while (holding() && clock.elapsed() < ms)
        QTest::qWait(20);
    return !holding();
}

// The most bytes waiting to be sent on one established connection, once the server has queued
// some (within 10 s), or -1.
qint64 largestSendQueue(uint16_t port) {
    QElapsedTimer clock;
    clock.start();
    do {
        qint64 largest = -1;
        for (const ServerSocket &socket : serverSockets(port))
            if (socket.state == "01" && socket.sendQueue > 0)
                largest = std::max(largest, socket.sendQueue);
        if (largest > 0)
            return largest;
        QTest::qWait(20);
    } while (clock.elapsed() < 10000);
    return -1;
}

} // namespace

TEST_F(Serving, SlowSendersSlowReadersAndFloodsFromOneAddressLeaveOthersServed) {
    start({"--idle-timeout", "3", "--max-per-address", "40", "--send-buffer", "4"}, true);
    ASSERT_GE(firstPageTime(port6), 0);
    const qint64 memoryBefore = residentKiB(*server);

    // Senders of a header byte a second: the address's limit holds 40 of them, the rest are
    // refused, and the page is answered meanwhile.
    Connections slow;
    for (int i = 0; i < 60; ++i)
        slow.push_back(std::make_unique<LoopbackConnection>(port));
    const QByteArray slowRequest = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: abcdefgh";
    for (int byte = 0; byte < 4; ++byte) {
        for (auto &connection : slow)
            connection->send(slowRequest.mid(byte, 1));
        const qint64 page = firstPageTime(port6);
        EXPECT_GE(page, 0);
        EXPECT_LT(page, 1000) << "the first page while slow senders hold their connections";
        QTest::qWait(1000);
    }
    EXPECT_GE(closedOf(slow, 200), 20) << "beyond the address's limit, refused";
    slow.clear();
    // Their places under the address's limit are free once the server has closed them.
    ASSERT_TRUE(letGoOfAll(port, 10000)) << "the slow senders' connections, closed by them";

    // Readers that take the answer a byte at a time through a small window. Each holds no more
    // of the server than its send buffer, which the system would otherwise grow until the
    // whole answer (some 30 KB here) was in it.
    Connections readers;
    for (int i = 0; i < 30; ++i) {
        readers.push_back(std::make_unique<LoopbackConnection>(port, LoopbackConnection::V4, 2048));
        readers.back()->send("GET /ranking.json HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    }
    const qint64 queued = largestSendQueue(port);
    EXPECT_GT(queued, 0) << "the slow readers' connections, in /proc/net/tcp";
    EXPECT_LT(queued, 16 * 1024) << "bytes queued for one slow reader";
    for (int round = 0; round < 20; ++round) {
        for (auto &reader : readers)
            reader->take(1);
        QTest::qWait(50);
    }
    const qint64 page = firstPageTime(port6);
    EXPECT_GE(page, 0);
    EXPECT_LT(page, 1000) << "the first page while slow readers hold theirs";
    readers.clear();

    // An event stream's client that never reads, while the ranking changes: the stream costs
    // it no more than its place in the server's log of events.
    LoopbackConnection stalled(port, LoopbackConnection::V4, 2048);
    stalled.send("GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    LoopbackConnection listening(port6, LoopbackConnection::V6);
    listening.send("GET /events HTTP/1.1\r\nHost: [::1]\r\n\r\n");
    for (int change = 0; change < 6; ++change) {
        folder.write("accounts/evil.ini", accountFile("evil", 1000 + change));
        QTest::qWait(250);
    }
    const QByteArray events = listening.receive(
        3000, [](const QByteArray &got) { return got.count("event: change\n") >= 3; });
    EXPECT_GE(events.count("event: change\n"), 3) << events.data();
    EXPECT_TRUE(stalled.receive(1000).contains("event: ")) << "its events wait for it";

    // A flood of connections from one address: the excess is refused at once, the page served.
    Connections flood;
    for (int i = 0; i < 400; ++i)
        flood.push_back(std::make_unique<LoopbackConnection>(port));
    const qint64 pageInFlood = firstPageTime(port6);
    EXPECT_GE(pageInFlood, 0);
    EXPECT_LT(pageInFlood, 1000) << "the first page in a flood from another address";
    EXPECT_GE(closedOf(flood, 500), 360);
    flood.clear();

    const qint64 memoryAfter = residentKiB(*server);
    EXPECT_LT(memoryAfter - memoryBefore, 64 * 1024) << "KiB grown over every kind of abuse";
    EXPECT_EQ(server->stop(), 0);
}

// A parked event stream is not polled by the HTTP library: without a watch of its own, the
// server would learn that its client left only at the next heartbeat, 15 s after its start.
TEST_F(Serving, AnEventStreamWhoseClientHangsUpIsClosedAtOnce) {
    start();
    QElapsedTimer sinceStart;
    sinceStart.start();
    for (int client = 0; client < 3; ++client) {
        auto stream = std::make_unique<LoopbackConnection>(port);
        stream->send("GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        ASSERT_TRUE(
            stream->receive(3000, [](const QByteArray &got) { return got.contains("\r\n\r\n"); })
                .contains("text/event-stream"));
        stream.reset(); // hangs up while its stream is parked
    }
    EXPECT_TRUE(letGoOfAll(port, 3000))
        << "streams left open by the server after their clients left";
    ASSERT_LT(sinceStart.elapsed(), 15000)
        << "before the first heartbeat, which would end them too";
    EXPECT_EQ(server->stop(), 0);
}

// A script's searches are held to its address's rate: they get 429 and when to come back;
// its pages, and another address's searches, are answered as before.
TEST_F(Serving, SearchesBeyondAnAddressRateAreRefusedAndOthersAnswered) {
    start({"--search-rate", "1", "--search-burst", "3"}, true);
    for (int search = 0; search < 3; ++search)
        EXPECT_EQ(request(port, "/ranking.json?q=" + QByteArray::number(search)).status, 200);
    const HttpReply refused = request(port, "/?q=login");
    EXPECT_EQ(refused.status, 429) << refused.body.data();
    EXPECT_GE(refused.header("Retry-After").toInt(), 1);
    EXPECT_EQ(request(port, "/").status, 200) << "a page is no search";
    EXPECT_EQ(request(port6, "/?q=login", {}, "GET", LoopbackConnection::V6).status, 200)
        << "another address";
    EXPECT_EQ(server->stop(), 0);
}

TEST_F(Serving, OversizedPipelinedHeadAndRangeRequestsAreAnsweredByTheRules) {
    start();
    const QByteArray whole = ::request(port, "/ranking.tsv").body;
    ASSERT_FALSE(whole.isEmpty());

    LoopbackConnection big(port);
    big.send("GET / HTTP/1.1\r\nHost: a\r\nX-Big: " + QByteArray(100 * 1024, 'x') + "\r\n\r\n");
    const HttpReply refused = parseReply(big.receive(5000));
    EXPECT_TRUE(refused.status == 431 || (refused.status == 0 && big.closed()))
        << "100 KB of headers: status " << refused.status;

    // Three requests in one write, answered in order on the one connection.
    LoopbackConnection pipelined(port);
    pipelined.send("GET /status HTTP/1.1\r\nHost: a\r\n\r\n"
                   "HEAD /ranking.tsv HTTP/1.1\r\nHost: a\r\n\r\n"
                   "GET /ranking.tsv HTTP/1.1\r\nHost: a\r\nRange: bytes=0-9\r\n"
                   "Connection: close\r\n\r\n");
    const QByteArray answers = pipelined.receive(5000);
    EXPECT_EQ(answers.count("HTTP/1.1 200 OK\r\n"), 3) << answers.left(300).data();
    const qsizetype head = answers.indexOf("HTTP/1.1 200 OK", answers.indexOf("\"generation\""));
    const HttpReply headReply = parseReply(answers.mid(head));
    EXPECT_EQ(headReply.header("Content-Length").toLongLong(), whole.size());
    EXPECT_TRUE(headReply.body.startsWith("HTTP/1.1 200 OK")) << "HEAD sends no body";
    // A Range is a request a server may answer whole, as this one does.
    EXPECT_TRUE(answers.endsWith(whole));

    // Kept alive: one connection, one request after another.
    LoopbackConnection kept(port);
    for (int i = 0; i < 3; ++i) {
        kept.send("GET /ranking.tsv?count=1 HTTP/1.1\r\nHost: a\r\n\r\n");
        const HttpReply reply = parseReply(kept.receive(
            5000, [](const QByteArray &got) { return got.endsWith("\n") && got.contains("\t"); }));
        EXPECT_EQ(reply.status, 200);
    }
    EXPECT_FALSE(kept.closed());
    EXPECT_EQ(server->stop(), 0);
}

TEST_F(Serving, OutOfDescriptorsNewClientsAreRefusedAndTheFolderIsStillFollowed) {
    if (::access("/usr/bin/prlimit", X_OK) != 0)
        GTEST_SKIP() << "no prlimit";
    start({"--max-per-address", "500"}, false, {"/usr/bin/prlimit", "--nofile=96:96"});
    EXPECT_TRUE(server->errors().contains("at most 48 connections at once, not 4096: the "
                                          "descriptor limit is 96"))
        << server->errors().data();
    LoopbackConnection kept(port);
    const auto keptRequest = [&] {
        kept.send("GET /ranking.tsv?count=1 HTTP/1.1\r\nHost: a\r\n\r\n");
        return parseReply(kept.receive(
            5000, [](const QByteArray &got) { return got.endsWith("\n") && got.contains("\t"); }));
    };
    ASSERT_EQ(keptRequest().status, 200);
    Connections flood;
    for (int i = 0; i < 80; ++i)
        flood.push_back(std::make_unique<LoopbackConnection>(port));
    EXPECT_GE(closedOf(flood, 500), 30) << "beyond the connections the descriptors allow";
    // The folder's watch and reading keep their descriptors: a change shows on the connection
    // kept, while the flood holds every other.
    folder.write("accounts/evil.ini", accountFile("evil", 999999));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return keptRequest().body.contains("1\tevil\t999999"); }, 5000));
    flood.clear();
    EXPECT_TRUE(QTest::qWaitFor([&] { return ::request(port, "/status").status == 200; }, 5000))
        << "new clients again once there is room";
    EXPECT_EQ(server->stop(), 0);
}

TEST_F(Serving, TheLastRankingIsServedWhileTheFolderIsGoneOrEmptiedAndReadAgainWhenItIsBack) {
    start();
    const QByteArray before = ::request(port, "/ranking.tsv").body;
    const QString accounts = folder.path() + "/accounts";
    ASSERT_TRUE(QDir().rename(accounts, accounts + ".away"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return ::request(port, "/status").body.contains("no longer exists"); }, 5000));
    const QByteArray status = ::request(port, "/status").body;
    EXPECT_TRUE(status.contains("\"since\": \"")) << status.data();
    EXPECT_EQ(::request(port, "/ranking.tsv").body, before) << "the last good ranking";
    EXPECT_TRUE(::request(port, "/").body.contains("could not be read again since"));

    // Back, and changed meanwhile: read again.
    folder.write("accounts.away/evil.ini", accountFile("evil", 999999));
    ASSERT_TRUE(QDir().rename(accounts + ".away", accounts));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return ::request(port, "/status").body.contains("\"readFailure\": null"); }, 5000));
    EXPECT_EQ(::request(port, "/ranking.tsv").body, rank("tsv"));
    EXPECT_TRUE(::request(port, "/ranking.tsv?count=1").body.startsWith("1\tevil\t999999"));

    // Emptied file by file, as `rm accounts/*` does: down to one file, followed as it is; then
    // none, and that one file's ranking is held. Followed again from the first file back.
    QStringList files = QDir(accounts).entryList({"*.ini"}, QDir::Files);
    const QString lastFile = files.takeLast();
    for (const QString &name : files)
        ASSERT_TRUE(QFile::remove(accounts + "/" + name));
    const QByteArray oneLeft = rank("tsv");
    ASSERT_EQ(oneLeft.count('\n'), 1);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return ::request(port, "/ranking.tsv").body == oneLeft; }, 5000));
    ASSERT_TRUE(QFile::remove(accounts + "/" + lastFile));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return ::request(port, "/status").body.contains("no account files in"); }, 5000));
    EXPECT_EQ(::request(port, "/ranking.tsv").body, oneLeft) << "the last ranking, held";
    EXPECT_TRUE(::request(port, "/").body.contains("has held no account files since"));
    folder.write("accounts/back.ini", accountFile("back", 7));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return ::request(port, "/status").body.contains("\"readFailure\": null"); }, 5000));
    const QByteArray backAgain = rank("tsv");
    EXPECT_EQ(::request(port, "/ranking.tsv").body, backAgain);

    // Replaced whole by an empty folder, as a deploy that clears before it copies: held too.
    ASSERT_TRUE(QDir().mkdir(folder.path() + "/accounts.new"));
    ASSERT_TRUE(QDir().rename(accounts, accounts + ".old"));
    ASSERT_TRUE(QDir().rename(accounts + ".new", accounts));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return ::request(port, "/status").body.contains("no account files in"); }, 5000));
    EXPECT_EQ(::request(port, "/ranking.tsv").body, backAgain) << "the last ranking, held";
    folder.write("accounts/again.ini", accountFile("again", 8));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return ::request(port, "/status").body.contains("\"readFailure\": null"); }, 5000));
    EXPECT_EQ(::request(port, "/ranking.tsv").body, rank("tsv"));
    EXPECT_EQ(server->stop(), 0);
}
