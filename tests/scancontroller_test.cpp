// The scan controller follows an accounts folder: whatever reaches it (changes, events lost, the
// folder replaced), the ranking it leads to is the one a full scan of the folder gives.
#include "accountfiles.h"
#include "gatedreader.h"
#include "livehelpers.h"
#include "tempfolder.h"

#include "scan/scancontroller.h"

#include <QCoreApplication>
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
    QString watch(const QString &accountsPath, Deliver deliver) override {
        watched << accountsPath;
        deliver_ = std::move(deliver);
        return problem;
    }
    void stop() override { deliver_ = nullptr; }
    void changed(const QByteArray &name) { deliver({{FolderEvent::EntryChanged, name}}); }
    void deliver(std::vector<FolderEvent> events) {
        if (deliver_)
            deliver_(std::move(events));
    }
    QStringList watched;
    QString problem;

private:
    Deliver deliver_;
};

// A ranking kept as the controller's owner keeps it: replaced by each scan, changed by each
// change read.
struct Follower {
    explicit Follower(const QString &folder, ScanSettings settings = {},
                      ScanController::WatchMaker makeWatch = {})
        : controller(folder, std::move(settings), std::move(makeWatch)) {
        QObject::connect(&controller, &ScanController::scanEnded, [this](const ScanEnd &end) {
            ++scans;
            quietScans += end.quiet ? 1 : 0;
            if (end.ranking)
                ranking = end.ranking;
        });
        QObject::connect(&controller, &ScanController::changesRead,
                         [this](const std::vector<ChangedFile> &files) {
                             ++changes;
                             for (const ChangedFile &file : files)
                                 namesRead << QString::fromUtf8(file.rawName);
                             MirroredSteps steps(*ranking);
                             ranking->apply(files, steps);
                             EXPECT_TRUE(steps.matches());
                         });
    }
    bool waitFor(const std::function<bool()> &done, int ms = 10000) {
        return QTest::qWaitFor(done, ms);
    }
    ScanController controller;
    std::shared_ptr<LiveRanking> ranking = std::make_shared<LiveRanking>();
    int scans = 0, quietScans = 0, changes = 0;
    QStringList namesRead;
};

ScanController::WatchMaker fake(FakeWatch *&made) {
    return [&made](QObject *) {
        auto watch = std::make_unique<FakeWatch>();
        made = watch.get();
        return watch;
    };
}

class ControllerTest : public ::testing::Test {
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
        follower.controller.setFollowing(true);
        follower.controller.scan();
        ASSERT_TRUE(follower.waitFor([&] { return follower.scans == 1; }));
    }
    TempFolder folder;
};

} // namespace

TEST_F(ControllerTest, EventsLostMeanTheWholeFolderIsReadAgain) {
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
    EXPECT_EQ(rankingState(*follower.ranking), scannedState(folder.path()));
}

TEST_F(ControllerTest, AReplacedFolderIsWatchedAnewAndReadWhole) {
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
    EXPECT_EQ(rowTexts(follower.ranking->records()), QStringList{"other|9|1|One"});
}

TEST_F(ControllerTest, AChangeIsReadWithinASecondWhileAnotherFileKeepsChanging) {
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
        [&] { return rankingState(*follower.ranking) == scannedState(folder.path()); }));
}

TEST_F(ControllerTest, ChangesSeenDuringAScanAreReadAfterIt) {
    FakeWatch *watch = nullptr;
    const auto gate = GatedReader::make();
    ScanSettings settings;
    settings.reader = gate->reader();
    Follower follower(folder.path(), settings, fake(watch));
    follower.controller.setFollowing(true);
    follower.controller.scan();
    ASSERT_TRUE(follower.waitFor([&] { return gate->held() > 0; }));
    // Read by the scan before it changes, or after: either way it is right in the end.
    write("p4.ini", accountFile("p4", 444));
    watch->changed("p4.ini");
    gate->open();
    ASSERT_TRUE(follower.waitFor([&] { return follower.namesRead.contains("p4.ini"); }));
    EXPECT_EQ(follower.scans, 1);
    EXPECT_EQ(rankingState(*follower.ranking), scannedState(folder.path()));
}

TEST_F(ControllerTest, AWatchThatCannotBeMadeSaysWhyAndScansStillWork) {
    FakeWatch *watch = nullptr;
    ScanController::WatchMaker failing = [&watch](QObject *) {
        auto made = std::make_unique<FakeWatch>();
        made->problem = QStringLiteral("cannot watch for changes: No space left on device");
        watch = made.get();
        return made;
    };
    Follower follower(folder.path(), {}, failing);
    int told = 0;
    QObject::connect(&follower.controller, &ScanController::followingChanged, [&] { ++told; });
    start(follower);
    EXPECT_EQ(follower.controller.followProblem(),
              "cannot watch for changes: No space left on device");
    EXPECT_GE(told, 1);
    follower.controller.scan();
    ASSERT_TRUE(follower.waitFor([&] { return follower.scans == 2; }));
    follower.controller.setFollowing(false);
    EXPECT_TRUE(follower.controller.followProblem().isEmpty()) << "off: nothing to say";
}

TEST_F(ControllerTest, TheSystemsWatchSeesEveryWayAServerSavesAFile) {
    Follower follower(folder.path());
    start(follower);
    ASSERT_TRUE(follower.controller.followProblem().isEmpty())
        << follower.controller.followProblem().toStdString();
    const auto expectSeen = [&](const QString &name, const char *how) {
        ASSERT_TRUE(follower.waitFor([&] { return follower.namesRead.contains(name); }, 5000))
            << how;
        ASSERT_TRUE(follower.waitFor([&] {
            return rankingState(*follower.ranking) == scannedState(folder.path());
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
        [&] { return rowTexts(follower.ranking->records()) == QStringList{"fresh|1|1|One"}; }));
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
        std::fprintf(stderr, "[%s]\n",
                     qPrintable(watch->watch(folder.path("accounts"), [](auto) {})));
        std::_Exit(0);
    };
    EXPECT_EXIT(withoutDescriptors(), ::testing::ExitedWithCode(0),
                "\\[cannot watch for changes: Too many open files\\]");
    const std::unique_ptr<FolderWatch> watch = makeSystemFolderWatch(nullptr);
    EXPECT_EQ(watch->watch(folder.path("gone/accounts"), [](auto) {}),
              "cannot watch for changes: No such file or directory")
        << "neither the folder nor the one that would hold it";
    EXPECT_EQ(watch->watch(folder.path("accounts.later"), [](auto) {}), "")
        << "a folder not there yet is watched for by the one that would hold it";
}

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
