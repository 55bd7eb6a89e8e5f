// The window following its folder's changes: what the user sees stays where it was, the rows are
// those of a full scan, and the view never sees a half-made list.
#include "accountfiles.h"
#include "livehelpers.h"
#include "privileges.h"
#include "recordingmessagebox.h"
#include "scanwaiting.h"
#include "tempfolder.h"

#include "scan/live/folderfollower.h"
#include "window/frmmain.h"

#include <QAbstractItemModelTester>
#include <QFile>

#include <QItemSelectionModel>
#include <QLabel>
#include <QScrollBar>
#include <QTest>
#include <QTreeView>
#include <sys/inotify.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <random>

using namespace orvantis;

namespace {

class LiveWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (int n = 0; n < 300; ++n)
            write(n, 1000 - 3 * n); // user0 highest
    }
    void write(int n, int level) {
        folder.write(QStringLiteral("accounts/u%1.ini").arg(n, 3, 10, QLatin1Char('0')),
                     accountFile("user" + QByteArray::number(n), level));
    }
    // Loaded and following changes, shown.
    frmMain &start() {
        window = std::make_unique<frmMain>(folder.path(), messages);
        window->resize(500, 400);
        window->setRefreshWhenFilesChange(true); // as --watch does: before the first scan
        EXPECT_TRUE(loadAndWait(*window));
        window->show();
        tester = std::make_unique<QAbstractItemModelTester>(
            &window->lvLevels(), QAbstractItemModelTester::FailureReportingMode::Fatal);
        QObject::connect(window.get(), &frmMain::changesApplied, [this] { ++applied; });
        return *window;
    }
    QStringList selectedLogins() const {
        QStringList logins;
        for (const QModelIndex &index : window->levelsView()->selectionModel()->selectedRows())
            logins << index.data().toString();
        logins.sort();
        return logins;
    }
    QString loginAt(const QModelIndex &index) const { return index.data().toString(); }
    QString topLogin() const { return loginAt(window->levelsView()->indexAt(QPoint(0, 0))); }
    bool waitForApplied(int count) {
        return QTest::qWaitFor([&] { return applied >= count; }, 5000);
    }
    void select(int row) {
        window->levelsView()->selectionModel()->select(window->lvLevels().index(row, 0),
                                                       QItemSelectionModel::Select |
                                                           QItemSelectionModel::Rows);
    }

    TempFolder folder;
    RecordingMessageBox messages;
    std::unique_ptr<frmMain> window;
    std::unique_ptr<QAbstractItemModelTester> tester;
    int applied = 0;
};

} // namespace

TEST_F(LiveWindowTest, StartedFollowingItReadsTheFolderOnceAndSaysItIsLive) {
    int scans = 0;
    window = std::make_unique<frmMain>(folder.path(), messages);
    QObject::connect(window.get(), &frmMain::scanFinished, [&] { ++scans; });
    window->setRefreshWhenFilesChange(true);
    ASSERT_TRUE(loadAndWait(*window));
    QTest::qWait(300);
    EXPECT_EQ(scans, 1) << "watched before the first scan, which is the only one";
    EXPECT_TRUE(window->refreshesWhenFilesChange());
    EXPECT_TRUE(window->scanSummary()->toolTip().startsWith(
        "300 accounts from 300 account files, read at "));
    EXPECT_TRUE(window->scanSummary()->toolTip().contains("; following changes since "));
}

TEST_F(LiveWindowTest, TheSelectionTheCurrentRowAndTheRowsInViewStayWhereTheUserLeftThem) {
    frmMain &w = start();
    QTreeView *view = w.levelsView();
    view->scrollTo(w.lvLevels().index(150, 0), QAbstractItemView::PositionAtTop);
    QCoreApplication::processEvents();
    const QString top = topLogin();
    ASSERT_EQ(top, "user150");
    select(152);
    select(160);
    view->selectionModel()->setCurrentIndex(w.lvLevels().index(160, 0),
                                            QItemSelectionModel::NoUpdate);
    // Every row as the view holds on to it: each must still show its own account after.
    std::vector<std::pair<QPersistentModelIndex, QString>> held;
    for (int row = 0; row < w.lvLevels().rowCount(); ++row)
        held.emplace_back(w.lvLevels().index(row, 0), loginAt(w.lvLevels().index(row, 0)));
    // Above the rows in view: one rises to the top, one is added, one removed, one falls below.
    write(200, 5000);
    write(900, 999);
    QFile::remove(folder.path("accounts/u010.ini"));
    write(20, 1);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return w.lvLevels().rowCount() == 300 && loginAt(w.lvLevels().index(0, 0)) == "user200";
        },
        5000));
    QCoreApplication::processEvents();
    EXPECT_EQ(topLogin(), top) << "the rows in view stay";
    EXPECT_EQ(selectedLogins(), (QStringList{"user152", "user160"}));
    EXPECT_EQ(loginAt(view->currentIndex()), "user160");
    EXPECT_EQ(rowTexts(w.lvLevels()), rowTexts(LiveRanking(scanAccounts(folder.path())).records()));
    for (const auto &[index, login] : held)
        if (index.isValid())
            EXPECT_EQ(loginAt(index), login) << "a row the view held moved away from its account";
        else
            EXPECT_EQ(login, "user10") << "only the account removed is gone";

    // More at once than are applied step by step: put back by account.
    for (int n = 250; n < 250 + static_cast<int>(LiveRanking::kStepsUpTo) + 10; ++n)
        write(n, 2000 + n);
    const int before = applied;
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return loginAt(w.lvLevels().index(1, 0)) == "user323"; }, 5000));
    QCoreApplication::processEvents();
    EXPECT_GT(applied, before);
    EXPECT_EQ(topLogin(), top);
    EXPECT_EQ(selectedLogins(), (QStringList{"user152", "user160"}));
    EXPECT_EQ(loginAt(view->currentIndex()), "user160");
}

TEST_F(LiveWindowTest, AListAtItsTopStaysAtItsTopAndShowsTheNewLeader) {
    frmMain &w = start();
    ASSERT_EQ(topLogin(), "user0");
    write(299, 99999);
    ASSERT_TRUE(waitForApplied(1));
    QCoreApplication::processEvents();
    EXPECT_EQ(topLogin(), "user299");
    EXPECT_EQ(w.levelsView()->verticalScrollBar()->value(), 0);
}

TEST_F(LiveWindowTest, ABurstOfMixedChangesEndsAsAFullScanOfTheFolderWithItsCounts) {
    frmMain &w = start();
    std::mt19937 random(11);
    for (int c = 0; c < 200; ++c) {
        const int n = static_cast<int>(random() % 360);
        const QString name = QStringLiteral("accounts/u%1.ini").arg(n, 3, 10, QLatin1Char('0'));
        switch (random() % 5) {
        case 0:
            QFile::remove(folder.path(name));
            break;
        case 1:
            folder.write(name, accountFile("bad", {"1", "9999999999"}));
            break;
        case 2:
            folder.write(name, "[GENERAL]\n");
            break;
        default:
            write(n, static_cast<int>(random() % 50));
        }
    }
    const LiveRanking scanned(scanAccounts(folder.path()));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return rankingState(w.lvLevels().ranking()) == rankingState(scanned); }, 5000));
    const ScanReport &report = scanned.report();
    const QString summary = w.scanSummary()->toolTip();
    EXPECT_TRUE(summary.startsWith(QStringLiteral("%1 accounts from %2 account files")
                                       .arg(scanned.records().size())
                                       .arg(report.accountFiles)))
        << summary.toStdString();
    EXPECT_TRUE(summary.contains(QStringLiteral("%1 without a login").arg(report.withoutLogin)));
    EXPECT_TRUE(summary.contains(QStringLiteral("%1 files left out").arg(report.skipped.size())));
    EXPECT_TRUE(summary.contains("following changes, the last at "));
    EXPECT_TRUE(messages.shown.empty()) << "files left out by changes are told in the line only";
}

TEST_F(LiveWindowTest, AWatchThatCannotBeMadeIsSaidInTheLineAndRefreshStillWorks) {
    struct Refusing : FolderWatch {
        WatchProblems watch(const QString &path, Deliver) override {
            return {watchFailure(path, EMFILE, QStringLiteral("Too many open files")), {}};
        }
        std::optional<ScanFailure> watchFile(const QByteArray &) override { return {}; }
        void unwatchFile(const QByteArray &) override {}
        void stop() override {}
    };
    window = std::make_unique<frmMain>(folder.path(), messages, ScanSettings{},
                                       [](QObject *) { return std::make_unique<Refusing>(); });
    window->setRefreshWhenFilesChange(true);
    ASSERT_TRUE(loadAndWait(*window));
    EXPECT_TRUE(window->scanSummary()->toolTip().endsWith(
        "; not following changes: cannot watch for changes: Too many open files"))
        << window->scanSummary()->toolTip().toStdString();
    write(0, 1);
    ASSERT_TRUE(refreshAndWait(*window));
    EXPECT_EQ(window->lvLevels().cellText(0, 0), "user1");
}

TEST_F(LiveWindowTest, AWatchOfTheFolderAboveThatCannotBeMadeIsSaidWithWhatItCosts) {
    // The system's watch, its limit of watches reached as it asks for the folder above.
    const QString above = folder.path();
    window =
        std::make_unique<frmMain>(folder.path(), messages, ScanSettings{}, [above](QObject *owner) {
            return makeSystemFolderWatch(owner, [above](int fd, const char *path, uint32_t mask) {
                if (QString::fromUtf8(path) == above) {
                    errno = ENOSPC;
                    return -1;
                }
                return ::inotify_add_watch(fd, path, mask);
            });
        });
    window->setRefreshWhenFilesChange(true);
    ASSERT_TRUE(loadAndWait(*window));
    const QString line = window->scanSummary()->toolTip();
    EXPECT_TRUE(line.contains("; following changes since ")) << line.toStdString();
    EXPECT_TRUE(
        line.endsWith(QStringLiteral("; cannot watch %1 for changes: No space left on device "
                                     "(the system's limit of watches); a replaced accounts "
                                     "folder will not be noticed")
                          .arg(above)))
        << line.toStdString();
    write(299, 5000); // the folder's own changes are still followed
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return window->lvLevels().cellText(0, 0) == "user299"; }, 5000));
}

TEST(LiveWindow, AFolderThatBecomesUnreadableWhileFollowedIsReportedAndEndsWith70) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempFolder folder;
    folder.write("accounts/a.ini", accountFile("alice", 5));
    const QByteArray accounts = folder.path("accounts").toUtf8();
    const auto followedIntoAnUnreadableFolder = [&] {
        // The folder is the child's own, so that it may take its permissions away as the admin
        // would. A plain QApplication: an exception out of the event loop would abort.
        if (::chmod(folder.path().toUtf8(), 0755) != 0 || ::chown(accounts, 65534, 65534) != 0 ||
            !dropPrivileges())
            std::_Exit(3);
        RecordingMessageBox box;
        frmMain w(folder.path(), box);
        w.setRefreshWhenFilesChange(true);
        if (!loadAndWait(w) || w.lvLevels().rowCount() != 1)
            std::_Exit(4);
        QFile file(folder.path("accounts/b.ini"));
        if (!file.open(QIODevice::WriteOnly))
            std::_Exit(5);
        file.write(accountFile("bob", 6));
        file.close();
        ::chmod(accounts, 0); // before the change is read
        const int status = QApplication::exec();
        for (const auto &shown : box.shown)
            std::fprintf(stderr, "[%s|%s]\n", shown.title.toUtf8().constData(),
                         shown.text.toUtf8().constData());
        ::chmod(accounts, 0755);
        std::_Exit(status);
    };
    EXPECT_EXIT(followedIntoAnUnreadableFolder(), ::testing::ExitedWithCode(70),
                "\\[Orvantis\\|Orvantis met an error it cannot recover from and will close.\n\n"
                "Cannot read the folder .*/accounts/: Permission denied \\(70\\)\\]");
}
