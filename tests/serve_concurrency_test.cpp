// The server's threads read snapshots while the ranking changes under them: every answer is one
// whole generation, never a change half applied, and the event stream's clients see each event
// or a reload. Run under ThreadSanitizer as well.
#include "accountfiles.h"
#include "httpclient.h"
#include "qtprinters.h"
#include "tempfolder.h"

#include "scan/reading/scanaccounts.h"
#include "serve/httpserver.h"
#include "serve/listensocket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

using namespace orvantis;

namespace {

constexpr int kServedAccounts = 60;

// A change that gives two accounts each other's level: the levels of the ranking, as a multiset,
// stay those it began with, and only a ranking half changed could hold another.
std::vector<ChangedFile> swapLevels(const LiveRanking &ranking, size_t a, size_t b) {
    const AccountRecords &records = ranking.records();
    std::vector<ChangedFile> files;
    for (const auto &[row, level] :
         {std::pair{a, records[b].level}, std::pair{b, records[a].level}}) {
        AccountFile file;
        file.outcome = FileOutcome::Row;
        file.levels = {level, 0, 0};
        file.level = level;
        file.slot = 1;
        file.login = records.login(row).toString();
        file.name = file.names[0] = QStringLiteral("One");
        const std::string_view raw = ranking.report().listing->rawName(records[row].place);
        files.push_back({QByteArray(raw.data(), static_cast<qsizetype>(raw.size())), file});
    }
    return files;
}

// The levels of a TSV ranking, in order.
std::vector<int> levelsOf(const QByteArray &tsv) {
    std::vector<int> levels;
    for (const QByteArray &line : tsv.split('\n'))
        if (!line.isEmpty())
            levels.push_back(line.split('\t').value(1).toInt());
    return levels;
}

} // namespace

TEST(ServeConcurrency, RequestsSeeWholeGenerationsWhileTheRankingChanges) {
    TempFolder folder;
    for (int n = 0; n < kServedAccounts; ++n)
        folder.write(QStringLiteral("accounts/a%1.ini").arg(n),
                     accountFile("a" + QByteArray::number(n), n + 1));
    LiveRanking ranking(scanAccounts(folder.path()));
    std::multiset<int> expected;
    for (size_t r = 0; r < ranking.records().size(); ++r)
        expected.insert(ranking.records()[r].level);

    const ListenSocket socket = listenOn(QStringLiteral("127.0.0.1"), 0);
    ASSERT_GE(socket.fd, 0) << socket.error.toStdString();
    QString error;
    uint64_t generation = 1;
    auto server =
        HttpServer::start({socket}, ServeLimits{}, TlsFiles{},
                          std::make_shared<const Snapshot>(
                              ranking, generation, QDateTime::currentDateTimeUtc(), FolderHealth{}),
                          nullptr, error);
    ASSERT_TRUE(server) << error.toStdString();

    std::atomic<bool> stop{false};
    std::atomic<int> answers{0}, wrong{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < 3; ++c)
        clients.emplace_back([&, c] {
            const QByteArray paths[] = {"/ranking.tsv", "/?page=1", "/status"};
            while (!stop) {
                const HttpReply reply = request(socket.port, paths[c]);
                ++answers;
                if (reply.status != 200)
                    ++wrong;
                else if (c == 0) {
                    const std::vector<int> levels = levelsOf(reply.body);
                    const std::multiset<int> got(levels.begin(), levels.end());
                    if (got != expected || !std::is_sorted(levels.rbegin(), levels.rend()))
                        ++wrong;
                }
            }
        });
    std::atomic<int> events{0};
    std::thread listener([&] {
        LoopbackConnection stream(socket.port);
        stream.send("GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        while (!stop)
            events += static_cast<int>(stream.receive(50).count("\nevent: "));
    });

    RankingSteps unseen;
    for (int change = 0; change < 300; ++change) {
        const size_t a = static_cast<size_t>(change * 7) % ranking.records().size();
        const size_t b = static_cast<size_t>(change * 13 + 5) % ranking.records().size();
        ranking.apply(swapLevels(ranking, a, b), unseen);
        server->publish(std::make_shared<const Snapshot>(
                            ranking, ++generation, QDateTime::currentDateTimeUtc(), FolderHealth{}),
                        "change", "{}");
        if (change % 50 == 0)
            server->heartbeat();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop = true;
    for (std::thread &client : clients)
        client.join();
    listener.join();
    EXPECT_GT(answers, 30);
    EXPECT_EQ(wrong, 0) << "an answer of no whole generation";
    EXPECT_GT(events, 0);
    server.reset(); // its event stream ended, every connection let go
}
