// The folder watch on Windows: the changes the live ranking follows, seen through
// ReadDirectoryChangesW on the owner's thread.
#include "scan/live/folderwatch.h"
#include "tempfolder.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace orvantis;

namespace {

// Runs the event loop, through which the watch reports, until `done` holds or `ms` milliseconds
// have passed; whether it held. (The Windows build has no Qt Test.)
template <typename Done> bool runEventsUntil(Done done, int ms) {
    const QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(10);
    }
    return true;
}

class WindowsWatchTest : public ::testing::Test {
protected:
    void SetUp() override { folder.mkdir("accounts"); }

    // Why the folder could not be watched, or the empty text.
    QString watch() {
        const WatchProblems problems =
            watcher->watch(folder.path("accounts"), [this](std::vector<FolderEvent> got) {
                events.insert(events.end(), got.begin(), got.end());
            });
        return problems.folder ? problems.folder->text : QString();
    }
    bool seen(FolderEvent::Kind kind, const QByteArray &name = {}) const {
        return std::any_of(events.begin(), events.end(), [&](const FolderEvent &event) {
            return event.kind == kind && event.name == name;
        });
    }
    // Waits up to five seconds for the event.
    bool waitFor(FolderEvent::Kind kind, const QByteArray &name = {}) {
        return runEventsUntil([&] { return seen(kind, name); }, 5000);
    }

    TempFolder folder;
    QObject owner;
    std::unique_ptr<FolderWatch> watcher = makeSystemFolderWatch(&owner);
    std::vector<FolderEvent> events;
};

} // namespace

TEST_F(WindowsWatchTest, SeesFilesMadeRewrittenRenamedAndRemoved) {
    ASSERT_EQ(watch(), QString());
    folder.write("accounts/new.ini", "[GENERAL]\nLogin=a\n");
    EXPECT_TRUE(waitFor(FolderEvent::EntryChanged, "new.ini"));
    events.clear();
    folder.write("accounts/new.ini", "[GENERAL]\nLogin=b\n"); // rewritten in place
    EXPECT_TRUE(waitFor(FolderEvent::EntryChanged, "new.ini"));
    ASSERT_TRUE(QFile::rename(folder.path("accounts/new.ini"),
                              folder.path(QStringLiteral("accounts/\u00e9t\u00e9.ini"))));
    EXPECT_TRUE(waitFor(FolderEvent::EntryChanged, "\xc3\xa9t\xc3\xa9.ini")); // as UTF-8
    ASSERT_TRUE(QFile::remove(folder.path(QStringLiteral("accounts/\u00e9t\u00e9.ini"))));
    events.clear();
    EXPECT_TRUE(waitFor(FolderEvent::EntryChanged, "\xc3\xa9t\xc3\xa9.ini"));
}

TEST_F(WindowsWatchTest, AnotherAccountsFolderTakingItsPlaceIsSeen) {
    ASSERT_EQ(watch(), QString());
    folder.mkdir("Accounts.new");
    runEventsUntil([] { return false; }, 300);
    EXPECT_FALSE(seen(FolderEvent::FolderReplaced)); // another name: nothing to the ranking
    ASSERT_TRUE(QDir(folder.path()).rename("accounts", "accounts.old"));
    ASSERT_TRUE(QDir(folder.path()).rename("Accounts.new", "accounts"));
    EXPECT_TRUE(waitFor(FolderEvent::FolderReplaced));
}

TEST_F(WindowsWatchTest, AMissingFolderIsWatchedForAndAMissingParentSaysWhy) {
    ASSERT_TRUE(QDir(folder.path("accounts")).removeRecursively());
    ASSERT_EQ(watch(), QString()); // watched for by the folder that holds it
    folder.mkdir("accounts");
    EXPECT_TRUE(waitFor(FolderEvent::FolderReplaced));
    const auto why = watcher->watch(folder.path("nowhere/accounts"), [](auto) {}).folder;
    ASSERT_TRUE(why);
    EXPECT_TRUE(why->text.startsWith("cannot watch for changes: ")) << why->text.toStdString();
}

TEST_F(WindowsWatchTest, StoppedItDeliversNothingMore) {
    ASSERT_EQ(watch(), QString());
    watcher->stop();
    folder.write("accounts/late.ini", "[GENERAL]\nLogin=a\n");
    runEventsUntil([] { return false; }, 500);
    EXPECT_TRUE(events.empty());
}
