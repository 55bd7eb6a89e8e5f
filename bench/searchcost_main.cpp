// orvantis-searchcost FOLDER < QUERIES: reads FOLDER's ranking, makes the leaderboard's search
// index of it, and answers each query of QUERIES (one a line) the way the server's search does,
// a page of its first rows, on a snapshot that has answered none of them (three times over,
// each on a new snapshot sharing the index). Prints, as JSON: the memory the index holds (what
// making the snapshot added, settled), how long making it took, and per kind of query (one, two
// and three characters, and longer) the mean and the 99th percentile of its time, in
// microseconds: the server's work for a search without the HTTP around it.
#include "resident.h"

#include "scan/live/liveranking.h"
#include "scan/reading/scanaccounts.h"
#include "serve/leaderboardpage.h"
#include "serve/snapshot.h"

#include <QTextStream>

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::string kindOf(const QString &query) {
    return query.size() > 3 ? "longer" : std::to_string(query.size());
}

} // namespace

int main(int argc, char *argv[]) {
    if (argc != 2) {
        std::fputs("usage: orvantis-searchcost FOLDER < QUERIES\n", stderr);
        return 2;
    }
    using namespace orvantis;
    QStringList queries;
    QTextStream in(stdin);
    for (QString line; in.readLineInto(&line);)
        if (!line.isEmpty())
            queries.push_back(line);
    const LiveRanking ranking(scanAccounts(QString::fromLocal8Bit(argv[1])));
    malloc_trim(0);
    const double before = bench::residentMiB();
    const auto started = Clock::now();
    auto snapshot = std::make_unique<const Snapshot>(ranking, 1, QDateTime(), FolderHealth{});
    const double madeMs = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
    malloc_trim(0);
    const double indexMiB = bench::residentMiB() - before;
    std::map<std::string, std::vector<double>> times;
    for (int round = 0; round < 3; ++round) {
        snapshot =
            std::make_unique<const Snapshot>(ranking, 2 + round, QDateTime(), FolderHealth{},
                                             snapshot->searchIndex(), TouchedPlaces{false, {}});
        for (const QString &query : queries) {
            const auto start = Clock::now();
            const RowsView view = viewOf(*snapshot, RowsQuery{query, {}, {}, {}});
            times[kindOf(query)].push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - start).count());
            if (view.total < 0)
                return 1; // never: keeps the view from being thought unused
        }
    }
    std::printf("{\"accounts\": %zu, \"index_MiB\": %.1f, \"index_made_ms\": %.0f, \"queries\": {",
                snapshot->size(), indexMiB, madeMs);
    const char *separator = "";
    for (auto &[kind, each] : times) {
        std::sort(each.begin(), each.end());
        double sum = 0;
        for (const double t : each)
            sum += t;
        std::printf("%s\"%s\": {\"count\": %zu, \"mean_us\": %.1f, \"p99_us\": %.1f}", separator,
                    kind.c_str(), each.size() / 3, sum / static_cast<double>(each.size()),
                    each[each.size() * 99 / 100]);
        separator = ", ";
    }
    std::printf("}}\n");
    return 0;
}
