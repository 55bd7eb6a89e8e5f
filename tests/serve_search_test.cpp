// The leaderboard's search finds exactly the accounts the find bar's rule finds, at every
// generation: its index, made again only where a change touched it, never answers from a text
// an account no longer has; and a snapshot stays as it was made while the ranking changes.
#include "accountfiles.h"
#include "qtprinters.h"
#include "tempfolder.h"

#include "scan/accounts/accountsearch.h"
#include "scan/reading/scanaccounts.h"
#include "serve/bytesearch.h"
#include "serve/changedranks.h"
#include "serve/leaderboardpage.h"
#include "serve/snapshot.h"
#include "serve/touchedplaces.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace orvantis;

namespace {

// More accounts than one group of the index's chunks holds, with names whose letter case folds
// in other ways than ASCII's.
constexpr int kAccounts = 2208; // 69 chunks of 32 whole
const QString kNames[] = {
    QString::fromUtf16(u"\u00c4rztin"),
    QStringLiteral("STRASSE"),
    QString::fromUtf16(u"\U00010400bc"),
    QStringLiteral("<img src=x onerror=alert(1)>"),
    QString::fromUtf16(u"\u039f\u03b4\u03c5\u03c3\u03c3\u03b5\u03cd\u03c2"),
    QStringLiteral("Orel"),
};
const QString kQueries[] = {
    QStringLiteral("a"),
    QString::fromUtf16(u"\u00e4"),
    QString::fromUtf16(u"\u00c4R"),
    QStringLiteral("rzt"),
    QStringLiteral("sse"),
    QString::fromUtf16(u"\U00010428"),
    QStringLiteral("<IMG S"),
    QString::fromUtf16(u"\u03a3\u03a3"),
    QStringLiteral("7"),
    QStringLiteral("login1"),
    QStringLiteral("orel"),
    QStringLiteral("renamed"),
    QStringLiteral("zzz"),
    QStringLiteral("n"),
};

QByteArray fileOf(int n, const QString &name, int level) {
    return "[GENERAL]\nLogin=login" + QByteArray::number(n) + "\n[CHAR1]\nName=" + name.toUtf8() +
           "\nLevel=" + QByteArray::number(level) + "\n[CHAR2]\nName=Second" +
           QByteArray::number(n % 13) + "\nLevel=1\n";
}

ChangedFile changed(const QByteArray &rawName, int n, const QString &name, int level) {
    AccountFile file;
    file.outcome = FileOutcome::Row;
    file.levels = {level, 1, 0};
    file.level = level;
    file.slot = 1;
    file.login = QStringLiteral("login%1").arg(n);
    file.name = file.names[0] = name;
    file.names[1] = QStringLiteral("Second%1").arg(n % 13);
    return {rawName, file};
}

// The rows the rule of a match finds, one by one.
std::vector<size_t> everyMatch(const Snapshot &snapshot, const QString &text) {
    std::vector<size_t> rows;
    for (size_t row = 0; row < snapshot.size(); ++row)
        if (accountHolds(snapshot.records(), &snapshot.characters(), row, text))
            rows.push_back(row);
    return rows;
}

// A search that counts every match finds as many as the rule, and lists the rule's rows; one
// that counts fewer than there are says so, and finds them down the ranking: the first ones,
// those after a few skipped, those from a rank on.
void expectTheRulesMatches(const Snapshot &snapshot) {
    constexpr int64_t kFew = 40;
    for (const QString &query : kQueries) {
        SCOPED_TRACE(query.toStdString());
        const std::vector<size_t> expected = everyMatch(snapshot, query);
        const auto matches = static_cast<int64_t>(expected.size());
        const auto all = snapshot.search(query);
        EXPECT_EQ(all->total, matches);
        EXPECT_EQ((all->listed ? all : snapshot.listed(query, *all))->rows, expected);
        const auto few = snapshot.search(query, kFew);
        EXPECT_EQ(few->total, std::min(matches, kFew + 1));
        const auto part = [&](size_t first, size_t count) {
            return std::vector<size_t>(expected.begin() + first,
                                       expected.begin() + std::min(first + count, expected.size()));
        };
        EXPECT_EQ(snapshot.rowsHolding(query, *few, 0, 0, kFew, kFew).rows, part(0, kFew));
        if (matches <= kFew)
            continue;
        const Snapshot::Slice skipped = snapshot.rowsHolding(query, *few, 0, 30, 20, kFew);
        EXPECT_EQ(skipped.rows, part(30, 20));
        EXPECT_EQ(skipped.before, 30);
        const Snapshot::Slice fromRank =
            snapshot.rowsHolding(query, *few, expected[20], 0, 5, kFew);
        EXPECT_EQ(fromRank.rows, part(20, 5));
        EXPECT_EQ(fromRank.before, 20);
        EXPECT_TRUE(snapshot.rowsHolding(query, *few, 0, kFew, 1, kFew).beyond);
        EXPECT_TRUE(snapshot.rowsHolding(query, *few, expected[kFew], 0, 1, kFew).beyond);
    }
}

} // namespace

TEST(Search, FindsWhatTheRuleFindsAfterEveryKindOfChange) {
    TempFolder folder;
    for (int n = 0; n < kAccounts; ++n)
        folder.write(QStringLiteral("accounts/p%1.ini").arg(n, 5, 10, QLatin1Char('0')),
                     fileOf(n, kNames[n % std::size(kNames)], n % 97 + 1));
    LiveRanking ranking(scanAccounts(folder.path()));
    ChangedRanks ranks;
    PlaceTracker tracker(ranks);
    auto snapshot = std::make_unique<Snapshot>(ranking, 1, QDateTime(), FolderHealth{});
    ASSERT_EQ(snapshot->size(), size_t{kAccounts});
    expectTheRulesMatches(*snapshot);
    // Every account holds "n" and "login" (its login): what a search of a letter reads is none
    // of them, of a longer text what it counts, and of a page the page's rows, not what holds
    // it.
    const auto common = snapshot->search(QStringLiteral("n"), 40);
    EXPECT_EQ(common->chunksRead, 0u);
    EXPECT_EQ(snapshot->rowsHolding(QStringLiteral("n"), *common, 0, 0, 40, 40).rowsRead, 40u);
    EXPECT_LE(snapshot->search(QStringLiteral("login"), 40)->chunksRead, 2u)
        << "chunks of 32 accounts read to count 40 matches";
    // Its pages go as far as the counted matches, and say that there are more.
    RowsQuery query{QStringLiteral("n"), 4, std::nullopt, 10};
    const RowsView fourth = viewOf(*snapshot, query, 40);
    EXPECT_EQ(fourth.rows, std::vector<size_t>({30, 31, 32, 33, 34, 35, 36, 37, 38, 39}));
    const QByteArray page = leaderboardPage(*snapshot, query, fourth);
    EXPECT_TRUE(page.contains("31 to 40 of more than 40")) << page.data();
    EXPECT_TRUE(page.contains("Page 4 of more than 4"));
    EXPECT_FALSE(page.contains("rel=\"last\"")) << "the last page is not known";
    query.page = 5;
    EXPECT_TRUE(viewOf(*snapshot, query, 40).pastTheCounted);
    query.page = 999999999999; // the most a page's number has
    EXPECT_TRUE(viewOf(*snapshot, query, 40).pastTheCounted);
    query.text = QStringLiteral("ss");
    EXPECT_TRUE(viewOf(*snapshot, query).pastTheLast);

    // Renamed in its row, moved up by a new level, removed and back, and added after the last
    // place (in a chunk of its own) and removed again: each on its own, so that no other change
    // makes its chunk again.
    std::vector<ChangedFile> changes = {
        changed("p00001.ini", 1, QStringLiteral("Renamed"), 2),
        changed("p00300.ini", 300, QStringLiteral("Orel"), 999),
        changed("p02150.ini", 2150, QStringLiteral("Zzz"), 2),
        {"p00600.ini", AccountFile{}}, // no login now: no row
        changed("p00600.ini", 600, QStringLiteral("Back"), 7),
        changed("p99999.ini", 99999, QString::fromUtf16(u"\u00c4rger"), 40),
        {"p99999.ini", AccountFile{}}};
    uint64_t generation = 1;
    for (const ChangedFile &change : changes) {
        const std::vector<size_t> before = everyMatch(*snapshot, QStringLiteral("e"));
        ranking.apply({change}, tracker);
        // A snapshot shares the ranking's records until the ranking changes: then no longer.
        EXPECT_EQ(everyMatch(*snapshot, QStringLiteral("e")), before);
        const TouchedPlaces touched = tracker.take();
        EXPECT_FALSE(touched.all);
        snapshot = std::make_unique<Snapshot>(ranking, ++generation, QDateTime(), FolderHealth{},
                                              snapshot->searchIndex(), touched);
        expectTheRulesMatches(*snapshot);
    }
    EXPECT_EQ(snapshot->search(QStringLiteral("renamed"))->total, 1);

    // Many files at once are merged in one pass: everything is touched.
    changes.clear();
    for (int n = 0; n < int{LiveRanking::kStepsUpTo} + 1; ++n)
        changes.push_back(
            changed(QByteArray("p") + QByteArray::number(n + 100).rightJustified(5, '0') + ".ini",
                    n + 100, QStringLiteral("Merged"), 3));
    ranking.apply(changes, tracker);
    snapshot = std::make_unique<Snapshot>(ranking, ++generation, QDateTime(), FolderHealth{},
                                          snapshot->searchIndex(), tracker.take());
    expectTheRulesMatches(*snapshot);
    EXPECT_EQ(snapshot->search(QStringLiteral("merged"))->total, LiveRanking::kStepsUpTo + 1);
}

// Every text of up to 40 bytes, in a buffer of exactly its size (so that a read past its end is
// seen under AddressSanitizer), with the needle at each place, and near misses that share its
// first and last bytes: the same first match as a search byte by byte.
TEST(Search, FindBytesFindsTheFirstMatchAtEveryPlaceNearItsBlocksEdges) {
    for (const std::string needle : {"e", "ab", "xyz", "a_cd", "lo-ng"}) {
        for (size_t size = 0; size <= 40; ++size) {
            for (size_t at = 0; at <= size; ++at) {
                std::vector<char> text(size, '.');
                for (size_t i = at; i < size && i - at < needle.size(); ++i)
                    text[i] = needle[i - at];
                if (size >= 2) { // a near miss before it: the needle's ends, another middle
                    text[0] = needle.front();
                    text[std::min(size - 1, needle.size() - 1)] = needle.back();
                }
                const char *const begin = text.data();
                const char *const end = begin + text.size();
                const char *expected = std::search(begin, end, needle.begin(), needle.end());
                SCOPED_TRACE(std::string(begin, end) + " / " + needle);
                EXPECT_EQ(findBytes(begin, end, needle.data(), needle.size()),
                          expected == end ? nullptr : expected);
            }
        }
    }
}
