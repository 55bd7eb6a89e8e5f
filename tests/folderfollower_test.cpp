// The folder follower reads and follows an accounts folder: whatever reaches it (changes,
// events lost, the folder replaced, a read that fails), the ranking it hands out is the one a
// whole read of the folder gives, and every step it tells matches what it did to the rows.
#include "accountfiles.h"
#include "gatedreader.h"
#include "livehelpers.h"
#include "tempfolder.h"

#include "platform/failure.h"
#include "scan/live/folderfollower.h"
#include "scan/system/filenames.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

using namespace orvantis;

namespace {

// A watch the test drives: it records what it was asked to watch and delivers what it is told.
class FakeWatch : public FolderWatch {
public:
    WatchProblems watch(const QString &accountsPath, Deliver deliver) override {
        watched << accountsPath;
        deliver_ = std::move(deliver);
        return {problem, std::nullopt};
    }
    std::optional<ScanFailure> watchFile(const QByteArray &rawName) override {
        files << QString::fromUtf8(rawName);
        return std::nullopt;
    }
    void unwatchFile(const QByteArray &rawName) override {
        files.removeAll(QString::fromUtf8(rawName));
    }
    void stop() override { deliver_ = nullptr; }
    void changed(const QByteArray &name) { deliver({{FolderEvent::EntryChanged, name}}); }
    void deliver(std::vector<FolderEvent> events) {
        if (deliver_)
            deliver_(std::move(events));
    }
    QStringList watched, files;
    std::optional<ScanFailure> problem;

private:
    Deliver deliver_;
};

// A follower and what it tells: whole reads (those not asked for counted apart), failures,
// changes applied and the names read again. The steps it tells are mirrored and checked against
// the rows after every change.
struct Follower {
    explicit Follower(const QString &folder, ScanSettings settings = {},
                      FolderFollower::WatchMaker makeWatch = {})
        : follower(folder, std::move(settings), std::move(makeWatch)) {
        QObject::connect(&follower, &FolderFollower::rankingReplaced, [this](bool asked) {
            ++scans;
            quietScans += asked ? 0 : 1;
        });
        QObject::connect(&follower, &FolderFollower::failed,
                         [this](const ScanFailure &failure) { failures.push_back(failure); });
        QObject::connect(&follower, &FolderFollower::changesApplying,
                         [this](const std::vector<ChangedFile> &files) {
                             for (const ChangedFile &file : files)
                                 namesRead << QString::fromUtf8(file.rawName);
                             steps = std::make_unique<MirroredSteps>(follower.ranking());
                             follower.setSteps(steps.get());
                         });
        QObject::connect(&follower, &FolderFollower::changesApplied, [this] {
            ++changes;
            EXPECT_TRUE(steps->matches()) << "the steps told are not what was done to the rows";
            follower.setSteps(nullptr);
        });
    }
    bool waitFor(const std::function<bool()> &done, int ms = 10000) {
        return QTest::qWaitFor(done, ms);
    }
    const LiveRanking &ranking() const { return follower.ranking(); }

    FolderFollower follower;
    std::unique_ptr<MirroredSteps> steps;
    std::vector<ScanFailure> failures;
    int scans = 0, quietScans = 0, changes = 0;
    QStringList namesRead;
};

FolderFollower::WatchMaker fake(FakeWatch *&made) {
    return [&made](QObject *) {
        auto watch = std::make_unique<FakeWatch>();
        made = watch.get();
        return watch;
    };
}

class FollowerTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (int n = 0; n < 5; ++n)
            write(QStringLiteral("p%1.ini").arg(n), accountFile("p" + QByteArray::number(n), n));
    }
    void write(const QString &name, const QByteArray &bytes) {
        folder.write(QStringLiteral("accounts/") + name, bytes);
    }
    // Started and followed, its first scan done.
    void start(Follower &follower) {
        follower.follower.setFollowing(true);
        follower.follower.readWhole();
        ASSERT_TRUE(follower.waitFor([&] { return follower.scans == 1; }));
    }
    TempFolder folder;
};

} // namespace

TEST_F(FollowerTest, EventsLostMeanTheWholeFolderIsReadAgain) {
    FakeWatch *watch = nullptr;
    Follower follower(folder.path(), {}, fake(watch));
    start(follower);
    ASSERT_TRUE(watch);
    // Changes whose events the system's queue had no room for.
    write("p1.ini", accountFile("p1", 100));
    write("new.ini", accountFile("new", 3));
    watch->deliver({{FolderEvent::EntryChanged, "p2.ini"}, {FolderEvent::EventsLost, {}}});
    ASSERT_TRUE(follower.waitFor([&] { return follower.scans == 2; }));
    EXPECT_EQ(follower.quietScans, 1);
    EXPECT_EQ(rankingState(follower.ranking()), scannedState(folder.path()));
}

TEST_F(FollowerTest, AReplacedFolderIsWatchedAnewAndReadWhole) {
    FakeWatch *watch = nullptr;
    Follower follower(folder.path(), {}, fake(watch));
    start(follower);
    ASSERT_EQ(watch->watched.size(), 1);
    QDir(folder.path()).rename("accounts", "accounts.old");
    folder.write("accounts/other.ini", accountFile("other", 9));
    watch->deliver({{FolderEvent::FolderReplaced, {}}, {FolderEvent::FolderReplaced, {}}});
    ASSERT_TRUE(follower.waitFor([&] { return follower.scans == 2; }));
    EXPECT_EQ(watch->watched.size(), 2) << "watched anew, once";
    EXPECT_EQ(watch->watched.last(), folder.path("accounts"));
    EXPECT_EQ(rowTexts(follower.ranking().records()), QStringList{"other|9|1|One"});
}

// Emptied is told only of a folder that held account files, whichever way it came to hold
// none, and is over with the first file back; a folder that lost some of its files is not.
TEST_F(FollowerTest, AFolderEmptiedIsToldAsSuchUntilAFileIsBack) {
    TempFolder empty;
    QDir().mkpath(empty.path("accounts"));
    Follower never(empty.path());
    start(never);
    EXPECT_FALSE(never.follower.emptied()) << "a folder that never held an account file";

    FakeWatch *watch = nullptr;
    Follower follower(folder.path(), {}, fake(watch));
    start(follower);
    for (int n = 0; n < 4; ++n)
        QFile::remove(folder.path(QStringLiteral("accounts/p%1.ini").arg(n)));
    for (int n = 0; n < 4; ++n)
        watch->changed("p" + QByteArray::number(n) + ".ini");
    ASSERT_TRUE(follower.waitFor([&] { return follower.ranking().records().size() == 1; }));
    EXPECT_FALSE(follower.follower.emptied()) << "one file left is followed as it is";
    const QDateTime before = QDateTime::currentDateTimeUtc();
    QFile::remove(folder.path("accounts/p4.ini"));
    watch->changed("p4.ini");
    ASSERT_TRUE(follower.waitFor([&] { return follower.follower.emptied().has_value(); }));
    EXPECT_EQ(follower.follower.emptied()->why, "no account files in " + folder.path("accounts"));
    EXPECT_GE(follower.follower.emptied()->since, before);

    write("back.ini", accountFile("back", 1));
    watch->changed("back.ini");
    ASSERT_TRUE(follower.waitFor([&] { return !follower.follower.emptied(); }));

    // Replaced whole by an empty folder.
    QDir top(folder.path());
    ASSERT_TRUE(top.rename("accounts", "accounts.old") && top.mkdir("accounts"));
    watch->deliver({{FolderEvent::FolderReplaced, {}}});
    ASSERT_TRUE(follower.waitFor([&] { return follower.follower.emptied().has_value(); }));
    EXPECT_TRUE(follower.ranking().records().size() == 0) << "the ranking is the folder's";
}

TEST_F(FollowerTest, NamesSeenInAFolderThatIsAnotherNowChangeNoRowOfTheNewOne) {
    FakeWatch *watch = nullptr;
    Follower follower(folder.path(), {}, fake(watch));
    start(follower);
    // Swapped by two renames, which the watch of the old folder does not tell.
    folder.write("accounts.new/p0.ini", accountFile("fresh", 9));
    QDir top(folder.path());
    ASSERT_TRUE(top.rename("accounts", "accounts.old") && top.rename("accounts.new", "accounts"));
    write("p1.ini", accountFile("fresh1", 10)); // in the new one; its old p1 is written too:
    folder.write("accounts.old/p1.ini", accountFile("p1", 500));
    watch->changed("p1.ini"); // as the old folder's watch tells it
    ASSERT_TRUE(follower.waitFor([&] { return follower.scans == 2; }));
    EXPECT_EQ(follower.changes, 0) << "read in the new folder by the old one's name";
    EXPECT_EQ(watch->watched.size(), 2) << "the new folder watched";
    EXPECT_EQ(rankingState(follower.ranking()), scannedState(folder.path()));
}

TEST_F(FollowerTest, AChangeIsReadWithinASecondWhileAnotherFileKeepsChanging) {
    FakeWatch *watch = nullptr;
    Follower follower(folder.path(), {}, fake(watch));
    start(follower);
    // A server saving p0 every 50 ms never keeps p3's change waiting.
    QElapsedTimer clock;
    QTimer saving;
    int saves = 0;
    QObject::connect(&saving, &QTimer::timeout, [&] {
        write("p0.ini", accountFile("p0", ++saves));
        watch->changed("p0.ini");
        if (saves == 4) {
            write("p3.ini", accountFile("p3", 1000));
            watch->changed("p3.ini");
            clock.start();
        }
    });
    saving.start(50);
    ASSERT_TRUE(follower.waitFor([&] { return follower.namesRead.contains("p3.ini"); }, 5000));
    const qint64 latency = clock.elapsed();
    EXPECT_LT(latency, 1000);
    saving.stop();
    EXPECT_LT(follower.changes, saves) << "names seen together are read together";
    EXPECT_EQ(follower.scans, 1) << "no full scan for changes seen";
    ASSERT_TRUE(follower.waitFor(
        [&] { return rankingState(follower.ranking()) == scannedState(folder.path()); }));
}

TEST_F(FollowerTest, ChangesSeenDuringAScanAreReadAfterIt) {
    FakeWatch *watch = nullptr;
    const auto gate = GatedReader::make();
    ScanSettings settings;
    settings.reader = gate->reader();
    Follower follower(folder.path(), settings, fake(watch));
    follower.follower.setFollowing(true);
    follower.follower.readWhole();
    ASSERT_TRUE(follower.waitFor([&] { return gate->held() > 0; }));
    // Read by the scan before it changes, or after: either way it is right in the end.
    write("p4.ini", accountFile("p4", 444));
    watch->changed("p4.ini");
    gate->open();
    ASSERT_TRUE(follower.waitFor([&] { return follower.namesRead.contains("p4.ini"); }));
    EXPECT_EQ(follower.scans, 1);
    EXPECT_EQ(rankingState(follower.ranking()), scannedState(folder.path()));
}

TEST_F(FollowerTest, AWatchThatCannotBeMadeSaysWhyAndScansStillWork) {
    FakeWatch *watch = nullptr;
    FolderFollower::WatchMaker failing = [&watch](QObject *) {
        auto made = std::make_unique<FakeWatch>();
        made->problem = watchFailure("/srv/accounts", ENOSPC, "No space left on device");
        watch = made.get();
        return made;
    };
    Follower follower(folder.path(), {}, failing);
    int told = 0;
    QObject::connect(&follower.follower, &FolderFollower::followingChanged, [&] { ++told; });
    start(follower);
    ASSERT_TRUE(follower.follower.following().problem);
    EXPECT_EQ(follower.follower.following().problem->text,
              "cannot watch for changes: No space left on device");
    EXPECT_EQ(follower.follower.following().problem->what, ScanFailure::WatchUnavailable);
    EXPECT_GE(told, 1);
    follower.follower.readWhole();
    ASSERT_TRUE(follower.waitFor([&] { return follower.scans == 2; }));
    follower.follower.setFollowing(false);
    EXPECT_FALSE(follower.follower.following().problem) << "off: nothing to say";
}

TEST_F(FollowerTest, AWholeReadThatFailsSaysWhyAndKeepsTheLastGoodRanking) {
    auto failing = std::make_shared<std::atomic<bool>>(false);
    ScanSettings settings;
    settings.reader = [failing](IniLookup &lookup, const QByteArray &path,
                                const std::atomic<bool> &stop) {
        return *failing ? FileRead{FileRead::Failed, EMFILE} : readIniFile(lookup, path, &stop);
    };
    Follower follower(folder.path(), settings);
    follower.follower.readWhole();
    ASSERT_TRUE(follower.waitFor([&] { return follower.scans == 1; }));
    const QStringList before = rankingState(follower.ranking());
    ASSERT_EQ(before, scannedState(folder.path()));

    *failing = true; // no descriptor to be had, even for one file at a time
    write("p1.ini", accountFile("p1", 50));
    follower.follower.readWhole();
    ASSERT_TRUE(follower.waitFor([&] { return !follower.failures.empty(); }));
    const ScanFailure &failure = follower.failures.front();
    EXPECT_EQ(failure.what, ScanFailure::FileUnopenable);
    EXPECT_EQ(failure.systemError, EMFILE);
    EXPECT_EQ(failure.number, kTooManyFiles);
    EXPECT_TRUE(failure.path.startsWith(folder.path("accounts/p"))) << failure.path.toStdString();
    EXPECT_TRUE(failure.text.endsWith(": Too many open files")) << failure.text.toStdString();
    EXPECT_EQ(rankingState(follower.ranking()), before) << "the last good ranking stays";
    EXPECT_EQ(follower.scans, 1);

    *failing = false;
    follower.follower.readWhole();
    ASSERT_TRUE(follower.waitFor([&] { return follower.scans == 2; }));
    EXPECT_EQ(rankingState(follower.ranking()), scannedState(folder.path()));
}

TEST_F(FollowerTest, TheSystemsWatchSeesEveryWayAServerSavesAFile) {
    Follower follower(folder.path());
    start(follower);
    ASSERT_FALSE(follower.follower.following().problem)
        << follower.follower.following().problem->text.toStdString();
    const auto expectSeen = [&](const QString &name, const char *how) {
        ASSERT_TRUE(follower.waitFor([&] { return follower.namesRead.contains(name); }, 5000))
            << how;
        ASSERT_TRUE(follower.waitFor([&] {
            return rankingState(follower.ranking()) == scannedState(folder.path());
        })) << how;
        follower.namesRead.clear();
    };
    {
        // Opened, truncated and written in place.
        QFile file(folder.path("accounts/p1.ini"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(accountFile("p1", 77));
    }
    expectSeen("p1.ini", "rewritten in place");
    write("p2.tmp", accountFile("p2", 88));
    ASSERT_EQ(
        ::rename(folder.path("accounts/p2.tmp").toUtf8(), folder.path("accounts/p2.ini").toUtf8()),
        0);
    expectSeen("p2.ini", "a temporary file renamed over");
    write("added.ini", accountFile("added", 5));
    expectSeen("added.ini", "added");
    ASSERT_TRUE(QFile::remove(folder.path("accounts/p3.ini")));
    expectSeen("p3.ini", "removed");
    ASSERT_EQ(::chmod(folder.path("accounts/p4.ini").toUtf8(), 0600), 0);
    expectSeen("p4.ini", "its permissions changed");
    EXPECT_EQ(follower.scans, 1) << "none of these needs a full scan";

    // The folder replaced by another: read whole, and watched in its place.
    folder.write("accounts.new/fresh.ini", accountFile("fresh", 1));
    QDir top(folder.path());
    ASSERT_TRUE(top.rename("accounts", "accounts.old"));
    ASSERT_TRUE(top.rename("accounts.new", "accounts"));
    ASSERT_TRUE(follower.waitFor(
        [&] { return rowTexts(follower.ranking().records()) == QStringList{"fresh|1|1|One"}; }));
    folder.write("accounts.old/p0.ini", accountFile("p0", 999)); // no longer watched
    write("fresh.ini", accountFile("fresh", 2));
    expectSeen("fresh.ini", "a change in the new folder");
    EXPECT_FALSE(follower.namesRead.contains("p0.ini"));
}

TEST(SystemWatch, OneThatCannotBeMadeSaysWhy) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempFolder folder;
    folder.mkdir("accounts");
    const auto withoutDescriptors = [&] {
        // Made first: a sanitizer checking the object needs a descriptor of its own.
        const std::unique_ptr<FolderWatch> watch = makeSystemFolderWatch(nullptr);
        // Every descriptor the limit allows taken: inotify has none to give.
        const rlimit few{32, 32};
        if (::setrlimit(RLIMIT_NOFILE, &few) != 0)
            std::_Exit(3);
        while (::open("/dev/null", O_RDONLY) >= 0) {
        }
        const auto problem = watch->watch(folder.path("accounts"), [](auto) {}).folder;
        std::fprintf(stderr, "[%s]\n", problem ? qPrintable(problem->text) : "");
        std::_Exit(0);
    };
    EXPECT_EXIT(withoutDescriptors(), ::testing::ExitedWithCode(0),
                "\\[cannot watch for changes: Too many open files\\]");
    const std::unique_ptr<FolderWatch> watch = makeSystemFolderWatch(nullptr);
    const auto gone = watch->watch(folder.path("gone/accounts"), [](auto) {}).folder;
    ASSERT_TRUE(gone) << "neither the folder nor the one that would hold it";
    EXPECT_EQ(gone->text, "cannot watch for changes: No such file or directory");
    EXPECT_EQ(gone->systemError, ENOENT);
    EXPECT_FALSE(watch->watch(folder.path("accounts.later"), [](auto) {}).folder)
        << "a folder not there yet is watched for by the one that would hold it";
    // A folder whose name is not UTF-8 (a Latin-1 é), named as the scan names it.
    const QByteArray latin1 = encodeFileName(folder.path()) + "/caf\xe9";
    ASSERT_EQ(::mkdir(latin1.constData(), 0755), 0);
    ASSERT_EQ(::mkdir((latin1 + "/accounts").constData(), 0755), 0);
    const auto named = watch->watch(decodeFileName(latin1 + "/accounts"), [](auto) {}).folder;
    EXPECT_FALSE(named) << named->text.toStdString();
}
