// A ranking kept up to date file by file must be, after every change, the ranking a full scan of
// the folder gives: rows, order, characters, counts and files left out.
#include "accountfiles.h"
#include "livehelpers.h"
#include "privileges.h"
#include "tempfolder.h"

#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <random>

using namespace orvantis;

namespace {

class LiveRankingTest : public ::testing::Test {
protected:
    void SetUp() override {
        write("alice.ini", accountFile("alice", 5));
        write("bob.ini", accountFile("bob", 40));
        write("carol.ini", accountFile("carol", 40)); // tied with bob: name order
        write("Dave.ini", accountFile("dave", 40));
        write("erin.ini", accountFile("erin", {"293", "12", "293"})); // slots 1 and 3 share
        write("frank.ini", "[GENERAL]\nLogin=\n[CHAR1]\nLevel=9\n");  // no login
        write("notes.txt", "not an account file");
        ranking = LiveRanking(scanAccounts(folder.path()));
    }
    void write(const QString &name, const QByteArray &bytes) {
        folder.write(QStringLiteral("accounts/") + name, bytes);
    }
    QString path(const QString &name) const {
        return folder.path(QStringLiteral("accounts/") + name);
    }
    // Applies the files named and compares with a full scan.
    void expectAsScanned(const QStringList &names, const char *what) {
        readAndApply(ranking, names, &moves);
        EXPECT_EQ(rankingState(ranking), scannedState(folder.path())) << what;
    }

    TempFolder folder;
    LiveRanking ranking;
    int moves = 0;
};

} // namespace

TEST_F(LiveRankingTest, EachKindOfChangeGivesWhatAFullScanGives) {
    ASSERT_EQ(rankingState(ranking), scannedState(folder.path()));

    write("alice.ini", accountFile("alice", 500));
    expectAsScanned({"alice.ini"}, "rewritten to a higher level");
    EXPECT_EQ(moves, 1);
    EXPECT_EQ(ranking.records().login(0), u"alice");

    write("alice.ini", accountFile("alice", 1));
    expectAsScanned({"alice.ini"}, "rewritten to a lower level");
    write("bob.ini", accountFile("bob", {"40"}, "[CHAR1]\nName=Renamed\n"));
    expectAsScanned({"bob.ini"}, "the same level, another name");

    write("cat.ini", accountFile("cat", 40));
    expectAsScanned({"cat.ini"}, "added among accounts of its level, by name");
    write("BOB2.ini", accountFile("bob2", 40));
    expectAsScanned({"BOB2.ini"}, "letter case ignored in the name order");

    ASSERT_TRUE(QFile::remove(path("carol.ini")));
    expectAsScanned({"carol.ini"}, "removed");
    write("carol.ini", accountFile("carol", 7));
    expectAsScanned({"carol.ini"}, "back under the same name");

    ASSERT_TRUE(QFile::rename(path("Dave.ini"), path("zed.ini")));
    expectAsScanned({"Dave.ini", "zed.ini"}, "renamed");
    ASSERT_TRUE(QFile::rename(path("zed.ini"), path("zed.bak")));
    expectAsScanned({"zed.ini", "zed.bak"}, "renamed to no account file's name");

    write("alice.ini", "[GENERAL]\nLogin=\n");
    expectAsScanned({"alice.ini"}, "its login gone");
    write("frank.ini", accountFile("frank", 3));
    expectAsScanned({"frank.ini"}, "given a login");

    write("erin.ini", accountFile("erin", {"1", "99999999999"}));
    expectAsScanned({"erin.ini"}, "a level out of range: left out");
    EXPECT_EQ(ranking.report().skipped.size(), 1u);
    write("erin.ini", accountFile("erin", {"293", "293", "293"}));
    expectAsScanned({"erin.ini"}, "mended: no longer left out, and tied");
    EXPECT_TRUE(ranking.report().skipped.empty());

    write("notes.txt", "changed");
    folder.mkdir("accounts/folder.ini");
    expectAsScanned({"notes.txt", "folder.ini", "nothing.ini"},
                    "no account file, a folder and a name that never was: nothing");
}

TEST_F(LiveRankingTest, AFileGivenTwiceCountsAsReadLast) {
    write("alice.ini", accountFile("alice", 77));
    std::vector<QByteArray> names{"alice.ini"};
    ChangesRead first = readChangedFiles(*ranking.report().listing, names);
    write("alice.ini", accountFile("alice", 88));
    ChangesRead second = readChangedFiles(*ranking.report().listing, names);
    std::vector<ChangedFile> both = std::move(first.files);
    both.push_back(std::move(second.files[0]));
    MirroredSteps steps(ranking);
    ranking.apply(std::move(both), steps);
    EXPECT_TRUE(steps.matches());
    EXPECT_EQ(rankingState(ranking), scannedState(folder.path()));
}

TEST(LiveRanking, HundredsOfMixedChangesStepByStepAndAtOnceGiveWhatAFullScanGives) {
    TempFolder folder;
    std::mt19937 random(7);
    const auto name = [](int n) {
        return QStringLiteral("%1player%2.ini").arg(n % 3 ? "" : "P").arg(n);
    };
    const auto level = [&] { return QByteArray::number(static_cast<int>(random() % 60) - 5); };
    for (int n = 0; n < 300; ++n)
        folder.write("accounts/" + name(n),
                     accountFile("login" + QByteArray::number(n), {level(), level(), level()}));
    LiveRanking ranking(scanAccounts(folder.path()));
    // Rounds of changes to random files: rewritten, removed, added, left out, without a login.
    for (const int changes : {5, 40, 64, 65, 300, 20}) {
        QStringList names;
        for (int c = 0; c < changes; ++c) {
            const int n = static_cast<int>(random() % 400);
            const QString file = folder.path("accounts/" + name(n));
            switch (random() % 6) {
            case 0:
                QFile::remove(file);
                break;
            case 1:
                folder.write("accounts/" + name(n), accountFile("x", {"1", "2147483648"}));
                break;
            case 2:
                folder.write("accounts/" + name(n), "[GENERAL]\n");
                break;
            default:
                folder.write("accounts/" + name(n), accountFile("login" + QByteArray::number(n),
                                                                {level(), level(), level()}));
            }
            names << name(n);
        }
        int resets = 0;
        readAndApply(ranking, names, nullptr, &resets);
        EXPECT_EQ(rankingState(ranking), scannedState(folder.path())) << changes << " changes";
        std::sort(names.begin(), names.end());
        names.erase(std::unique(names.begin(), names.end()), names.end());
        EXPECT_EQ(resets, static_cast<size_t>(names.size()) > LiveRanking::kStepsUpTo ? 1 : 0);
    }
}

TEST(LiveRanking, AFileMadeUnreadableIsLeftOutWithItsReasonAndLeavesTheReportWhenMended) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempFolder folder;
    folder.write("accounts/alice.ini", accountFile("alice", 5));
    const QString bob = folder.write("accounts/bob.ini", accountFile("bob", 6));
    const auto asNobody = [&] {
        // The file is the child's own, so that it may take its permissions away as the admin
        // would; as nobody, they apply.
        if (::chmod(folder.path().toUtf8(), 0755) != 0 ||
            ::chown(bob.toUtf8(), 65534, 65534) != 0 || !dropPrivileges())
            std::_Exit(3);
        LiveRanking ranking(scanAccounts(folder.path()));
        ::chmod(bob.toUtf8(), 0);
        readAndApply(ranking, {"bob.ini"});
        const QStringList unreadable = rankingState(ranking);
        if (unreadable != scannedState(folder.path()) || ranking.report().skipped.size() != 1)
            std::_Exit(4);
        std::fprintf(stderr, "%s\n", qPrintable(ranking.report().skipped[0].reason));
        ::chmod(bob.toUtf8(), 0644);
        readAndApply(ranking, {"bob.ini"});
        if (rankingState(ranking) != scannedState(folder.path()) ||
            !ranking.report().skipped.empty() || ranking.records().size() != 2)
            std::_Exit(5);
        std::_Exit(0);
    };
    EXPECT_EXIT(asNobody(), ::testing::ExitedWithCode(0), "could not be read: Permission denied");
}

TEST_F(LiveRankingTest, ALongWatchKeepsOnlyTheTextsOfTheAccountsThereNow) {
    // A server saving the same two files over and over, with long names: the texts made for
    // the accounts gone must not pile up.
    const QByteArray longName(250, 'n');
    std::vector<ChangesRead> states;
    std::vector<QStringList> expected;
    for (int level : {61, 62}) {
        write("alice.ini", accountFile(longName + "a", {QByteArray::number(level)},
                                       "[CHAR2]\nName=" + longName + "\nLevel=3\n"));
        write("bob.ini", accountFile(longName + "b", level + 1));
        states.push_back(readChangedFiles(*ranking.report().listing, {"alice.ini", "bob.ini"}));
        expected.push_back(scannedState(folder.path()));
    }
    RankingSteps unseen;
    for (int round = 0; round < 20000; ++round) {
        ranking.apply(states[static_cast<size_t>(round % 2)].files, unseen);
        if (rankingState(ranking) != expected[static_cast<size_t>(round % 2)]) {
            ADD_FAILURE() << "round " << round << ": "
                          << rankingState(ranking).join('\n').toStdString();
            break;
        }
    }
    EXPECT_LT(ranking.records().ownTextLength(), 4 << 20);
    EXPECT_LT(ranking.characters().ownTextLength(), 4 << 20);
}
