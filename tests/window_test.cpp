#include "accountfiles.h"
#include "formats/accountranking.h"
#include "gatedreader.h"
#include "golden.h"
#include "privileges.h"
#include "qtprinters.h"
#include "recordingdesktop.h"
#include "recordingmessagebox.h"
#include "scan/accounts/accountcells.h"
#include "scan/live/folderfollower.h"
#include "scan/reading/inifiles.h"
#include "scanwaiting.h"
#include "tempfolder.h"
#include "window/errorreport.h"
#include "window/findbar.h"
#include "window/frmmain.h"
#include "window/scansummary.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QToolTip>
#include <QTreeView>

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace orvantis;

namespace {

class WindowTest : public ::testing::Test {
protected:
    // A window on the temporary program folder, loaded as at start-up.
    frmMain &window() {
        if (!window_)
            window_ = std::make_unique<frmMain>(folder.path(), messages);
        return *window_;
    }
    // The rows as the view shows them: login and level.
    QStringList shownRows() {
        QCoreApplication::processEvents();
        QAbstractItemModel *model = window().levelsView()->model();
        QStringList rows;
        for (int row = 0; row < model->rowCount(); ++row)
            rows << model->index(row, 0).data().toString() + u'|' +
                        model->index(row, 1).data().toString();
        return rows;
    }

    // The list's context-menu action of that name.
    static QAction *listAction(frmMain &w, const QString &text) {
        for (QAction *action : w.levelsView()->actions())
            if (action->text() == text)
                return action;
        return nullptr;
    }

    // Accounts user0, user1, … at levels 1, 2, …
    void writeAccounts(int count) {
        for (int i = 0; i < count; ++i)
            folder.write(QStringLiteral("accounts/%1.ini").arg(i),
                         accountFile("user" + QByteArray::number(i), i + 1));
    }
    // Shown and active, as a user has it.
    static bool showActive(frmMain &w) {
        w.show();
        QApplication::setActiveWindow(&w);
        return QTest::qWaitForWindowActive(&w);
    }

    TempFolder folder;
    RecordingMessageBox messages;
    std::unique_ptr<frmMain> window_;
};

} // namespace

TEST_F(WindowTest, ShowsTheSampleAccountsAsWhenRecorded) {
    QDir().mkpath(folder.path("accounts"));
    const QDir sample(QStringLiteral(ORVANTIS_SAMPLE_ACCOUNTS));
    for (const QString &name : sample.entryList(QDir::Files))
        ASSERT_TRUE(QFile::copy(sample.filePath(name), folder.path("accounts/" + name)));
    ASSERT_TRUE(loadAndWait(window()));
    QCoreApplication::processEvents();
    // Every cell as the view shows it, a line per row, the cells separated by tabs.
    const QAbstractItemModel *model = window().levelsView()->model();
    QByteArray shown;
    for (int row = 0; row < model->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < model->columnCount(); ++column)
            cells << model->index(row, column).data().toString();
        shown += cells.join(u'\t').toUtf8() + '\n';
    }
    expectGolden(QStringLiteral("window-sample.rows"), shown);
}

TEST_F(WindowTest, HasTheFixedLayout) {
    frmMain &w = window();
    const auto px = [&](int twips) { return w.pixels(twips); };
    EXPECT_EQ(w.windowTitle(), "Orvantis v1.4 - by Quellmar");
    EXPECT_EQ(w.minimumSize(), QSize(px(7560), px(6525)));
    EXPECT_EQ(w.maximumSize(), QSize(px(7560), px(6525)));
    EXPECT_EQ(w.geometry(), QRect(px(1455), px(2235), px(7560), px(6525)));
    EXPECT_TRUE(w.windowFlags().testFlag(Qt::Tool));
    EXPECT_FALSE(w.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(w.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(w.windowFlags().testFlag(Qt::WindowCloseButtonHint));

    EXPECT_EQ(w.levelsView()->geometry(), QRect(px(120), px(360), px(7335), px(5775)));
    EXPECT_EQ(w.Label1()->pos(), QPoint(px(120), px(120)));
    EXPECT_GE(w.Label1()->width(), px(1575));
    EXPECT_EQ(w.Label1()->height(), px(255));
    EXPECT_EQ(w.Label1()->text(), "Levels (Highest first):");
    EXPECT_EQ(w.Command1()->geometry(), QRect(px(6480), px(6240), px(975), px(255)));
    EXPECT_EQ(w.Command1()->text(), "Refresh");

    QHeaderView *header = w.levelsView()->header();
    const QStringList titles = {"Username", "Highest Level", "Char No.", "Char Name"};
    ASSERT_EQ(header->count(), 4);
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(w.levelsView()->model()->headerData(c, Qt::Horizontal).toString(), titles[c]);
        EXPECT_EQ(header->sectionSize(c), px(1440));
    }
    EXPECT_FALSE(w.levelsView()->rootIsDecorated());
    EXPECT_FALSE(w.Command1()->isDefault());
    EXPECT_FALSE(w.Command1()->autoDefault());
    EXPECT_FALSE(w.levelsView()->accessibleName().isEmpty());
}

TEST_F(WindowTest, ListHasFocusAndTabGoesToTheButtonSkippingTheLabel) {
    frmMain &w = window();
    ASSERT_TRUE(showActive(w));
    EXPECT_EQ(QApplication::focusWidget(), w.levelsView());
    EXPECT_EQ(w.Label1()->focusPolicy(), Qt::NoFocus);
    QTest::keyClick(w.levelsView(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), w.Command1());
    QTest::keyClick(w.Command1(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), w.levelsView());
}

TEST_F(WindowTest, KeepsFocusAndColumnWidthsThroughScans) {
    // The list is emptied and refilled by every scan: the focus and the designed column widths
    // stay.
    writeAccounts(3);
    frmMain &w = window();
    ASSERT_TRUE(loadAndWait(w));
    ASSERT_TRUE(showActive(w));
    const auto expectDesigned = [&](const char *when) {
        EXPECT_EQ(QApplication::focusWidget(), w.levelsView()) << when;
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(w.levelsView()->header()->sectionSize(c), w.pixels(1440))
                << when << ", column " << c;
    };
    expectDesigned("after Form_Load");
    w.levelsView()->setFocus();
    ASSERT_TRUE(refreshAndWait(w));
    QCoreApplication::processEvents();
    expectDesigned("after Refresh");
}

TEST_F(WindowTest, CopiesTheSelectedRowsAsTabSeparatedLinesInTheOrderShown) {
    folder.write("accounts/a.ini", accountFile("alice", 5));
    folder.write("accounts/b.ini", accountFile("bob", 12));
    folder.write("accounts/c.ini", accountFile("carol\tjr", {"8", "9"}));
    frmMain &w = window();
    ASSERT_TRUE(loadAndWait(w));
    ASSERT_TRUE(showActive(w));
    QGuiApplication::clipboard()->clear();

    QTest::keyClick(w.levelsView(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(w.levelsView(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              "bob\t12\t1\tOne\ncarol jr\t9\t2\tTwo\nalice\t5\t1\tOne\n");

    // Rows picked apart, the last first: still copied top to bottom.
    QItemSelectionModel *selection = w.levelsView()->selectionModel();
    selection->clearSelection();
    const auto rowAt = [&](int row) { return w.levelsView()->model()->index(row, 0); };
    selection->select(rowAt(2), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    selection->select(rowAt(0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTest::keyClick(w.levelsView(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "bob\t12\t1\tOne\nalice\t5\t1\tOne\n");

    // The same from the list's context menu.
    EXPECT_EQ(w.levelsView()->contextMenuPolicy(), Qt::ActionsContextMenu);
    QAction *copy = listAction(w, "Copy");
    ASSERT_NE(copy, nullptr);
    QGuiApplication::clipboard()->clear();
    copy->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "bob\t12\t1\tOne\nalice\t5\t1\tOne\n");
    EXPECT_EQ(w.levelsView()->editTriggers(), QAbstractItemView::NoEditTriggers)
        << "still read-only";
}

TEST_F(WindowTest, EnterOrEscapeInTheListDoesNotPressRefresh) {
    folder.write("accounts/a.ini", accountFile("alice", 5));
    frmMain &w = window();
    ASSERT_TRUE(loadAndWait(w));
    w.show();
    QSignalSpy clicks(w.Command1(), &QPushButton::clicked);
    w.levelsView()->setFocus();
    QTest::keyClick(w.levelsView(), Qt::Key_Return);
    QTest::keyClick(w.levelsView(), Qt::Key_Enter);
    QTest::keyClick(w.levelsView(), Qt::Key_Escape);
    EXPECT_EQ(clicks.count(), 0);
    EXPECT_TRUE(w.isVisible());
}

TEST_F(WindowTest, AClickOnAHeaderChangesNothing) {
    writeAccounts(5);
    frmMain &w = window();
    ASSERT_TRUE(loadAndWait(w));
    w.show();
    const QStringList before = shownRows();
    QHeaderView *header = w.levelsView()->header();
    for (int c = 0; c < 4; ++c)
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionPosition(c) + 5, 5));
    EXPECT_EQ(shownRows(), before);
}

TEST_F(WindowTest, StartsWithTheRankingWhenTheAccountsFolderIsThere) {
    folder.write("accounts/a.ini", accountFile("alice", 5));
    folder.write("accounts/b.ini", accountFile("bob", 12));
    QSignalSpy resets(window().levelsView()->model(), &QAbstractItemModel::modelReset);
    EXPECT_TRUE(loadAndWait(window()));
    EXPECT_EQ(resets.count(), 1) << "one view update per scan";
    EXPECT_EQ(shownRows(), QStringList({"bob|12", "alice|5"}));
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_TRUE(window().levelsView()->isVisibleTo(&window()));
}

namespace {

// Handles events until `done` holds, for at most five seconds; whether it holds.
template <typename Condition> bool eventually(Condition done, int withinMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < withinMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

} // namespace

TEST_F(WindowTest, AScanRunsBehindAWindowThatAnswersWithRefreshDisabledAndItsProgressShown) {
    for (int i = 0; i < 40; ++i)
        folder.write(QStringLiteral("accounts/%1.ini").arg(i),
                     accountFile("user" + QByteArray::number(i), i));
    const auto gate = GatedReader::make();
    frmMain w(folder.path(), messages,
              {kDefaultReadsInFlight, gate->reader(), nullptr, FileReading::Ring, {}});
    auto *progress = w.findChild<QProgressBar *>(QStringLiteral("scanProgress"));
    ASSERT_NE(progress, nullptr);
    ASSERT_TRUE(w.Form_Load());
    w.show();
    EXPECT_TRUE(w.isScanning());
    EXPECT_FALSE(w.Command1()->isEnabled()) << "a second scan can never start over the first";
    w.Command1_Click();
    EXPECT_EQ(w.lvLevels().rowCount(), 0);

    // The window goes on handling events; after half a second its progress shows.
    ASSERT_TRUE(eventually([&] { return progress->isVisible(); }));
    EXPECT_EQ(progress->maximum(), 40);
    EXPECT_EQ(progress->value(), 0);
    EXPECT_TRUE(w.isScanning());
    EXPECT_EQ(w.lvLevels().rowCount(), 0) << "no half-made rows";

    gate->open();
    ASSERT_TRUE(waitForScan(w));
    EXPECT_EQ(w.lvLevels().rowCount(), 40);
    EXPECT_FALSE(progress->isVisible());
    EXPECT_TRUE(w.Command1()->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the busy cursor is gone";
}

TEST_F(WindowTest, ClosingDuringAScanDoesNotWaitForIt) {
    folder.write("accounts/a.ini", accountFile("alice", 5));
    for (bool readsGiveUp : {true, false}) {
        const auto gate = GatedReader::make();
        if (!readsGiveUp)
            gate->ignoreStop();
        auto w = std::make_unique<frmMain>(
            folder.path(), messages,
            ScanSettings{kDefaultReadsInFlight, gate->reader(), nullptr, FileReading::Ring, {}});
        ASSERT_TRUE(w->Form_Load());
        w->show();
        ASSERT_TRUE(eventually([&] { return gate->held() > 0; })) << "the scan reads";
        QElapsedTimer clock;
        clock.start();
        w->close();
        // What the program does once its window is closed: stop the scan, and end.
        EXPECT_EQ(w->stopScan(), readsGiveUp);
        w.reset();
        EXPECT_LT(clock.elapsed(), 500) << (readsGiveUp ? "reads give up" : "a read is stuck");
        gate->open(); // a stuck read may now end, and with it the scan left behind
        EXPECT_TRUE(eventually([&] { return gate.use_count() == 1; })) << "the scan has let go";
    }
}

TEST_F(WindowTest, RefusesToStartWithoutAnEntryNamedExactlyAccounts) {
    for (const char *name : {"", "Accounts", "ACCOUNTS"}) {
        TempFolder programFolder;
        if (*name)
            programFolder.write(QStringLiteral("%1/a.ini").arg(name), accountFile("alice", 5));
        RecordingMessageBox box;
        frmMain w(programFolder.path(), box);
        EXPECT_FALSE(w.Form_Load()) << name;
        ASSERT_EQ(box.shown.size(), 1u) << name;
        EXPECT_EQ(box.shown[0].text, "Accounts folder not found!");
        // Below it: where it looked, and the two ways to show a server's accounts.
        const QString informative = box.shown[0].informative;
        EXPECT_TRUE(informative.startsWith("No entry named exactly \"accounts\" in " +
                                           QFileInfo(programFolder.path()).absoluteFilePath() +
                                           ".\n"))
            << informative.toStdString();
        EXPECT_TRUE(informative.contains("orvantis /srv/game")) << informative.toStdString();
        EXPECT_TRUE(informative.contains("ln -s /srv/game/accounts " +
                                         QFileInfo(programFolder.path()).absoluteFilePath() +
                                         "/accounts"))
            << informative.toStdString();
        EXPECT_EQ(box.shown[0].style, kOkOnly);
        EXPECT_EQ(box.shown[0].title, "") << "the application title, Orvantis";
        EXPECT_EQ(w.lvLevels().rowCount(), 0);
        EXPECT_FALSE(w.isVisible());
    }
    RecordingMessageBox box;
    frmMain nowhere(folder.path("no/such/folder"), box);
    EXPECT_FALSE(nowhere.Form_Load());
    ASSERT_EQ(box.shown.size(), 1u);
    EXPECT_TRUE(
        box.shown[0].informative.startsWith(folder.path("no/such/folder") + " does not exist.\n"))
        << box.shown[0].informative.toStdString();
}

TEST_F(WindowTest, APlainFileOrAnEmptyFolderNamedAccountsGivesAnEmptyList) {
    folder.write("accounts", "not a folder");
    EXPECT_TRUE(loadAndWait(window()));
    EXPECT_EQ(shownRows(), QStringList());

    TempFolder other;
    other.mkdir("accounts");
    RecordingMessageBox box;
    frmMain w(other.path(), box);
    EXPECT_TRUE(loadAndWait(w));
    EXPECT_EQ(w.lvLevels().rowCount(), 0);
    EXPECT_TRUE(box.shown.empty() && messages.shown.empty());
}

TEST_F(WindowTest, RefreshShowsTheFolderAsItIsNow) {
    folder.write("accounts/a.ini", accountFile("alice", 5));
    folder.write("accounts/b.ini", accountFile("bob", 12));
    ASSERT_TRUE(loadAndWait(window()));
    window().Command1()->click();
    ASSERT_TRUE(waitForScan(window()));
    window().Command1()->click();
    ASSERT_TRUE(waitForScan(window()));
    EXPECT_EQ(shownRows(), QStringList({"bob|12", "alice|5"})) << "the same rows once";

    folder.write("accounts/c.ini", accountFile("carol", 30));
    folder.write("accounts/a.ini", accountFile("alice", 40));
    QFile::remove(folder.path("accounts/b.ini"));
    window().Command1()->click();
    ASSERT_TRUE(waitForScan(window()));
    EXPECT_EQ(shownRows(), QStringList({"alice|40", "carol|30"}));

    QDir(folder.path("accounts")).removeRecursively();
    window().Command1()->click();
    ASSERT_TRUE(waitForScan(window()));
    EXPECT_EQ(shownRows(), QStringList());
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(WindowTest, WarnsOncePerScanOfTheFilesLeftOutWithEveryOneInTheDetails) {
    folder.write("accounts/a.ini", accountFile("alice", 5));
    constexpr int kLeftOut = 5000;
    for (int i = 0; i < kLeftOut; ++i)
        folder.write(QStringLiteral("accounts/big%1.ini").arg(i, 4, 10, QLatin1Char('0')),
                     "[GENERAL]\nLogin=x\n[CHAR1]\nLevel=3000000000\n");
    folder.write("accounts/esc\x1b[31m.ini", "[GENERAL]\nLogin=y\n[CHAR1]\nLevel=-3000000000\n");
    ASSERT_TRUE(loadAndWait(window()));
    EXPECT_EQ(shownRows(), QStringList({"alice|5"}));
    ASSERT_EQ(messages.shown.size(), 1u);
    const RecordingMessageBox::Shown report = messages.shown[0]; // a copy: more are recorded
    EXPECT_EQ(report.style, kExclamation) << "a warning";
    EXPECT_TRUE(report.text.startsWith("5,001 account files were left out of the ranking: 5,001 "
                                       "have a level out of range."))
        << report.text.toStdString();
    const QStringList lines = report.details.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), kLeftOut + 1) << "every file, none cut off";
    EXPECT_EQ(lines[0], "big0000.ini: a character level is outside -2147483648 to 2147483647");
    EXPECT_TRUE(lines.contains("big4999.ini: a character level is outside -2147483648 to "
                               "2147483647"));
    EXPECT_TRUE(lines.contains("esc\\x1b[31m.ini: a character level is outside -2147483648 to "
                               "2147483647"))
        << "no raw escape in what may be copied to a terminal";

    // The summary says so too, and opens the same report again.
    EXPECT_TRUE(window().scanSummary()->text().contains("5,001 files left out"));
    window().showLeftOutFiles();
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_EQ(messages.shown[1].details, report.details);
}

TEST_F(WindowTest, SaysAfterEveryScanWhatItReadOrWhyTheListIsEmpty) {
    // An Arabic locale, whose own digits the window's English texts must not take.
    const QLocale arabic(QLocale::Arabic, QLocale::Egypt);
    QLocale::setDefault(arabic);
    writeAccounts(12);
    folder.write("accounts/none.ini", "[GENERAL]\n");
    folder.write("accounts/big.ini", "[GENERAL]\nLogin=x\n[CHAR1]\nLevel=3000000000\n");
    frmMain w(folder.path(), messages);
    ASSERT_TRUE(loadAndWait(w));
    QLocale::setDefault(QLocale::c());
    QLabel *summary = w.scanSummary();
    EXPECT_EQ(summary->accessibleName(), "Scan summary");
    EXPECT_TRUE(summary->isVisibleTo(&w));
    // The whole line goes to a screen reader and into the tooltip; the strip shows it, or where
    // it would be cut, its short form, with the link whole.
    const QRegularExpression said("^12 accounts from 14 account files, read at "
                                  "\\d\\d:\\d\\d:\\d\\d; 1 without a login; 1 file left out$");
    EXPECT_TRUE(said.match(summary->accessibleDescription()).hasMatch())
        << summary->accessibleDescription().toStdString();
    EXPECT_EQ(summary->toolTip(), summary->accessibleDescription());
    const QString shown = summary->text();
    EXPECT_TRUE(shown == "12 accounts from 14 files; 1 without a login; <a "
                         "href=\"details\">1 file left out</a>" ||
                said.match(QTextDocumentFragment::fromHtml(shown).toPlainText()).hasMatch())
        << shown.toStdString();
    EXPECT_LE(summary->fontMetrics().horizontalAdvance(
                  QTextDocumentFragment::fromHtml(shown).toPlainText()),
              summary->width())
        << "nothing cut off: " << shown.toStdString();

    // Why the list is empty, each way it can be.
    const auto summaryOf = [&](const TempFolder &programFolder) {
        RecordingMessageBox box;
        frmMain other(programFolder.path(), box);
        EXPECT_TRUE(loadAndWait(other));
        EXPECT_TRUE(box.shown.empty()) << "no message box";
        EXPECT_EQ(other.lvLevels().rowCount(), 0);
        return other.scanSummary()->text();
    };
    TempFolder empty, plainFile, dangling;
    empty.write("accounts/readme.txt", "");
    EXPECT_TRUE(summaryOf(empty).startsWith("No account files in " + empty.path("accounts")));
    plainFile.write("accounts", "not a folder");
    EXPECT_TRUE(summaryOf(plainFile).startsWith("No accounts: " + plainFile.path("accounts") +
                                                " is not a folder"));
    ASSERT_TRUE(QFile::link("/srv/gmae/accounts", dangling.path("accounts")));
    EXPECT_TRUE(summaryOf(dangling).startsWith("No accounts: " + dangling.path("accounts") +
                                               " is a link to /srv/gmae/accounts, which leads "
                                               "nowhere"));
}

TEST_F(WindowTest, TheProgressBarCountsInAsciiDigitsInEveryLocale) {
    writeAccounts(40);
    const auto gate = GatedReader::make();
    QLocale::setDefault(QLocale(QLocale::Arabic, QLocale::Egypt));
    frmMain w(folder.path(), messages,
              {kDefaultReadsInFlight, gate->reader(), nullptr, FileReading::Ring, {}});
    auto *progress = w.findChild<QProgressBar *>(QStringLiteral("scanProgress"));
    w.setLocale(QLocale(QLocale::Arabic, QLocale::Egypt)); // as a user's desktop gives it
    ASSERT_TRUE(w.Form_Load());
    w.show();
    ASSERT_TRUE(eventually([&] { return progress->isVisible(); }));
    ASSERT_EQ(progress->locale().name(), "ar_EG");
    EXPECT_EQ(progress->text(), "0 of 40 account files read");
    // Made whole by the window: Qt would write "%v" and "%m" in the user's digits.
    EXPECT_EQ(progress->format(), "0 of 40 account files read");
    QLocale::setDefault(QLocale::c());
    gate->open();
    ASSERT_TRUE(waitForScan(w));
}

TEST_F(WindowTest, RefreshKeepsTheRowsShownUntilTheNewOnesReplaceThemAndTheCurrentAccount) {
    writeAccounts(300);
    // Reads that wait while `hold` is set, so that the refresh's scan can be seen half done.
    std::atomic<bool> hold{false};
    ScanSettings settings;
    settings.reader = [&hold](IniLookup &lookup, const QByteArray &path,
                              const std::atomic<bool> &stop) {
        while (hold && !stop)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return readIniFile(lookup, path, &stop);
    };
    frmMain w(folder.path(), messages, settings);
    ASSERT_TRUE(loadAndWait(w));
    w.show();
    // user150 is current; the folder then changes so that it moves.
    const QModelIndex user150 = w.levelsView()->model()->index(149, 0);
    ASSERT_EQ(user150.data().toString(), "user150");
    w.levelsView()->setCurrentIndex(user150);
    for (int i = 0; i < 100; ++i)
        folder.write(QStringLiteral("accounts/new%1.ini").arg(i),
                     accountFile("new" + QByteArray::number(i), 1000 + i));

    QSignalSpy resets(w.levelsView()->model(), &QAbstractItemModel::modelReset);
    hold = true;
    w.Command1_Click();
    ASSERT_TRUE(w.isScanning());
    QTest::qWait(100);
    EXPECT_EQ(w.levelsView()->model()->rowCount(), 300) << "the old rows stay during the scan";
    EXPECT_EQ(w.levelsView()->currentIndex().data().toString(), "user150");
    hold = false;
    ASSERT_TRUE(waitForScan(w));
    EXPECT_EQ(w.levelsView()->model()->rowCount(), 400);
    EXPECT_EQ(resets.count(), 1) << "replaced in one step";
    const QModelIndex current = w.levelsView()->currentIndex();
    EXPECT_EQ(current.row(), 249);
    EXPECT_EQ(current.data().toString(), "user150") << "the same account is current again";
    EXPECT_TRUE(w.levelsView()->selectionModel()->isRowSelected(249, {}));
    EXPECT_TRUE(w.levelsView()->visualRect(current).intersects(w.levelsView()->viewport()->rect()))
        << "and in view";
}

TEST_F(WindowTest, TheContextMenuActsOnRowsAndTheirAccountFiles) {
    folder.write("accounts/a.ini", accountFile("alice", 5));
    folder.write("accounts/b.ini", accountFile("bob,\"the\" great", 12));
    folder.write("accounts/c.ini", accountFile("carol", 9));
    frmMain &w = window();
    RecordingDesktop desktop;
    w.setDesktop(desktop);
    ASSERT_TRUE(loadAndWait(w));
    ASSERT_TRUE(showActive(w));
    QStringList names;
    for (QAction *action : w.levelsView()->actions())
        names << action->text();
    EXPECT_EQ(names, QStringList({"Copy", "Copy with Column Titles", "Save As…",
                                  "Save Selected Rows As…", "Open Account File", "Show in Folder",
                                  "", "Refresh When Files Change"}));

    // carol (the second row) is current and selected.
    w.levelsView()->setCurrentIndex(w.levelsView()->model()->index(1, 0));
    listAction(w, "Copy with Column Titles")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              "Username\tHighest Level\tChar No.\tChar Name\ncarol\t9\t1\tOne\n");
    listAction(w, "Open Account File")->trigger();
    listAction(w, "Show in Folder")->trigger();
    const QString carolsFile = QFileInfo(folder.path("accounts/c.ini")).absoluteFilePath();
    EXPECT_EQ(desktop.opened, QStringList({carolsFile}));
    EXPECT_EQ(desktop.shown, QStringList({carolsFile}));
    EXPECT_EQ(w.accountFileOf(0), QFileInfo(folder.path("accounts/b.ini")).absoluteFilePath())
        << "each row knows its file, wherever the sort put it";

    // Save As: the whole list, by the ranking's own formats; the format the name says.
    TempFolder out;
    desktop.saveTo = out.path("ranking");
    desktop.filterChosen = "Comma-separated values (*.csv)";
    listAction(w, "Save As…")->trigger();
    const QByteArray csv =
        rankingText(w.lvLevels().records(), w.lvLevels().characters(), RankingFormat::Csv);
    QFile saved(out.path("ranking.csv"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), csv);
    desktop.saveTo = out.path("top.json");
    listAction(w, "Save Selected Rows As…")->trigger();
    QFile json(out.path("top.json"));
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    const QJsonArray rows = QJsonDocument::fromJson(json.readAll()).array();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].toObject()["login"].toString(), "carol");
    EXPECT_EQ(QDir(out.path()).entryList(QDir::Files), QStringList({"ranking.csv", "top.json"}))
        << "no temporary file left behind";

    // A place that cannot be written: said, and the old file untouched.
    desktop.saveTo = out.path("no/such/folder/x.tsv");
    listAction(w, "Save As…")->trigger();
    ASSERT_FALSE(messages.shown.empty());
    EXPECT_TRUE(messages.shown.back().text.startsWith("Could not save "));
}

namespace {

// A file system mounted for the length of a test: tmpfs of a given size (root only).
class SmallTmpfs {
public:
    explicit SmallTmpfs(const QString &size) {
        const QByteArray command = "mount -t tmpfs -o size=" + size.toUtf8() + " tmpfs '" +
                                   dir.path().toUtf8() + "' 2>/dev/null";
        mounted = ::geteuid() == 0 && ::system(command.constData()) == 0;
    }
    ~SmallTmpfs() {
        if (mounted) {
            EXPECT_EQ(::system(("umount '" + dir.path().toUtf8() + "'").constData()), 0);
        }
    }
    // Writes a file until the file system is full, then frees `leave` bytes of it.
    void fill(off_t leave) const {
        const QByteArray path = dir.path("filler").toUtf8();
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        const QByteArray chunk(4096, 'f');
        off_t written = 0;
        for (ssize_t n; (n = ::write(fd, chunk.constData(), size_t(chunk.size()))) > 0;)
            written += n;
        ASSERT_EQ(errno, ENOSPC);
        ASSERT_EQ(::ftruncate(fd, std::max<off_t>(0, written - leave)), 0);
        ::close(fd);
    }
    TempFolder dir;
    bool mounted = false;
};

// The limit on the size of a file this process writes, for the length of a test; a write past
// it fails with EFBIG rather than ending the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, old_.rlim_max};
        EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        ::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit old_{};
    sighandler_t oldHandler_;
};

QByteArray contentsOf(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

} // namespace

// A save that the disk cannot take whole, whether the list fits the save's buffer (about 8 KB
// here) or not (about 60 KB): the old file keeps its bytes, no temporary file is left, and the
// message says why.
TEST_F(WindowTest, SaveAsThatCannotWriteEveryByteKeepsTheOldFileAndSaysWhy) {
    writeAccounts(2500);
    frmMain &w = window();
    ASSERT_TRUE(loadAndWait(w));
    w.levelsView()->selectionModel()->select(QItemSelection(w.levelsView()->model()->index(0, 0),
                                                            w.levelsView()->model()->index(399, 3)),
                                             QItemSelectionModel::Select);
    const QByteArray old = "yesterday's ranking\n";
    const auto writeOld = [&](const QString &dir) {
        QFile file(dir + QStringLiteral("/ranking.tsv"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(old), old.size());
    };
    const auto expectKept = [&](const QString &dir, bool selectedOnly, const char *reason,
                                const char *what) {
        const QString path = dir + QStringLiteral("/ranking.tsv");
        messages.shown.clear();
        EXPECT_FALSE(w.saveRows(path, RankingFormat::Tsv, selectedOnly)) << what;
        EXPECT_EQ(contentsOf(path), old) << what;
        ASSERT_EQ(messages.shown.size(), 1u) << what;
        EXPECT_EQ(messages.shown[0].text,
                  QStringLiteral("Could not save %1: %2").arg(path, QLatin1String(reason)))
            << what;
        QStringList left = QDir(dir).entryList(QDir::Files);
        left.removeAll(QStringLiteral("filler"));
        EXPECT_EQ(left, QStringList({"ranking.tsv"})) << what << ": no temporary file left";
    };

    TempFolder out;
    writeOld(out.path());
    {
        const FileSizeLimit limit(1024);
        expectKept(out.path(), true, "File too large", "400 rows past a file size limit");
        expectKept(out.path(), false, "File too large", "2,500 rows past a file size limit");
    }
    EXPECT_TRUE(w.saveRows(out.path("ranking.tsv"), RankingFormat::Tsv, true)) << "no limit";

    for (const off_t free : {off_t(0), off_t(4096)}) {
        const SmallTmpfs disk(QStringLiteral("256k"));
        if (!disk.mounted)
            GTEST_SKIP() << "no tmpfs of our own (needs root, and mounts allowed)";
        writeOld(disk.dir.path());
        disk.fill(free);
        const QByteArray what = QByteArray::number(qlonglong(free)) + " bytes free";
        expectKept(disk.dir.path(), true, "No space left on device", what + ", 400 rows");
        expectKept(disk.dir.path(), false, "No space left on device", what + ", 2,500 rows");
    }
}

TEST_F(WindowTest, CtrlFFindsLoginsAndCharacterNamesAsTheUserTypes) {
    for (int i = 0; i < 30; ++i)
        folder.write(QStringLiteral("accounts/%1.ini").arg(i),
                     "[GENERAL]\nLogin=user" + QByteArray::number(i) +
                         "\n[CHAR1]\nLevel=" + QByteArray::number(i + 1) +
                         "\nName=" + (i % 10 == 3 ? "Sir Quentin" : "Nobody") + "\n");
    folder.write("accounts/x.ini", "[GENERAL]\nLogin=QUENTINA\n[CHAR1]\nLevel=2\nName=x\n");
    frmMain &w = window();
    ASSERT_TRUE(loadAndWait(w));
    ASSERT_TRUE(showActive(w));
    FindBar *bar = w.findBar();
    EXPECT_FALSE(bar->isVisible()) << "closed, it takes no room";
    QTest::keyClick(w.levelsView(), Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(bar->isVisible());
    const QRect rows = w.levelsView()->viewport()->geometry();
    EXPECT_EQ(bar->geometry().bottom(), rows.bottom()) << "over the bottom of the list";
    EXPECT_EQ(bar->width(), rows.width());
    EXPECT_EQ(QApplication::focusWidget(), bar->field());
    QTest::keyClicks(bar->field(), "quent");
    ASSERT_TRUE(eventually([&] { return !bar->searching(); }));
    // Rows by level: user29 (30) … ; the names of user3, 13, 23 and the login QUENTINA match.
    const auto currentLogin = [&] { return w.levelsView()->currentIndex().data().toString(); };
    EXPECT_EQ(currentLogin(), "user23");
    EXPECT_EQ(bar->countText(), "1 of 4");
    QTest::keyClick(bar->field(), Qt::Key_Return);
    EXPECT_EQ(currentLogin(), "user13");
    QTest::keyClick(bar->field(), Qt::Key_F3);
    EXPECT_EQ(currentLogin(), "user3");
    EXPECT_EQ(bar->countText(), "3 of 4");
    QTest::keyClick(bar->field(), Qt::Key_F3);
    EXPECT_EQ(currentLogin(), "QUENTINA");
    QTest::keyClick(bar->field(), Qt::Key_F3);
    EXPECT_EQ(currentLogin(), "user23") << "round to the first";
    QTest::keyClick(bar->field(), Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(currentLogin(), "QUENTINA");
    QTest::keyClick(bar->field(), Qt::Key_Escape);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_EQ(QApplication::focusWidget(), w.levelsView());
    EXPECT_EQ(currentLogin(), "QUENTINA") << "the found row stays selected";
    EXPECT_TRUE(
        w.levelsView()->selectionModel()->isRowSelected(w.levelsView()->currentIndex().row(), {}));
    QTest::keyClicks(w.levelsView(), "user1"); // type-ahead on the first column still works
    EXPECT_TRUE(currentLogin().startsWith("user1"));
}

TEST_F(WindowTest, FindsAnAccountByAnyOfItsCharactersAndSaysTheCountToAssistiveTechnology) {
    folder.write("accounts/darkblade.ini", "[GENERAL]\nLogin=darkblade\n[CHAR1]\nName=Aelric\n"
                                           "Level=57\n[CHAR2]\nName=Mirelle\nLevel=12\n");
    folder.write("accounts/b.ini", accountFile("other", 3));
    folder.write("accounts/c.ini", "[GENERAL]\nLogin=third\n[CHAR3]\nName=mirelleX\nLevel=1\n");
    frmMain &w = window();
    ASSERT_TRUE(loadAndWait(w));
    ASSERT_TRUE(showActive(w));
    FindBar *bar = w.findBar();
    QTest::keyClick(w.levelsView(), Qt::Key_F, Qt::ControlModifier);
    const auto *count = bar->findChild<QLabel *>(QStringLiteral("findCount"));
    ASSERT_NE(count, nullptr);
    EXPECT_EQ(bar->field()->accessibleName(), "Find");
    EXPECT_EQ(count->accessibleName(), "Matches");
    QTest::keyClicks(bar->field(), "Mirelle");
    ASSERT_TRUE(eventually([&] { return !bar->searching(); }));
    const auto currentLogin = [&] { return w.levelsView()->currentIndex().data().toString(); };
    EXPECT_EQ(currentLogin(), "darkblade") << "by its second character";
    EXPECT_EQ(bar->countText(), "1 of 2");
    EXPECT_EQ(count->accessibleDescription(), "1 of 2") << "what a screen reader is told";
    QTest::keyClick(bar->field(), Qt::Key_Return);
    EXPECT_EQ(currentLogin(), "third");
    EXPECT_EQ(count->accessibleDescription(), "2 of 2");
}

TEST_F(WindowTest, ShiftF10OpensTheListsMenuAndTabVisitsTheListRefreshAndTheSummaryLink) {
    writeAccounts(3);
    folder.write("accounts/big.ini", "[GENERAL]\nLogin=x\n[CHAR1]\nLevel=3000000000\n");
    frmMain &w = window();
    ASSERT_TRUE(loadAndWait(w));
    messages.shown.clear();
    ASSERT_TRUE(showActive(w));
    w.levelsView()->setFocus();
    QString menuItems;
    QTimer::singleShot(200, [&] {
        if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
            for (QAction *action : menu->actions())
                menuItems += action->text() + u'|';
            menu->close();
        }
    });
    QTest::keyClick(w.levelsView(), Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_TRUE(menuItems.contains("Refresh When Files Change|")) << menuItems.toStdString();

    // With a link in the summary: list, Refresh, the link, and round to the list.
    ASSERT_TRUE(w.scanSummary()->text().contains("<a ")) << "a file was left out";
    QStringList visited;
    for (int step = 0; step < 4; ++step) {
        visited << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(visited, QStringList({"lvLevels", "Command1", "scanSummary", "lvLevels"}));
    // Enter on the link shows the report of the left-out files again.
    w.scanSummary()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(w.scanSummary(), Qt::Key_Return);
    EXPECT_EQ(messages.shown.size(), 1u);
}

TEST_F(WindowTest, SavedJsonSaysTheLevelATiedAccountsCharactersShare) {
    folder.write("accounts/a.ini", accountFile("vallor6083", {"293", "293"}));
    folder.write("accounts/b.ini", accountFile("single", 5));
    frmMain &w = window();
    ASSERT_TRUE(loadAndWait(w));
    TempFolder out;
    const auto saved = [&](bool selectedOnly) {
        EXPECT_TRUE(w.saveRows(out.path("x.json"), RankingFormat::Json, selectedOnly));
        return QJsonDocument::fromJson(contentsOf(out.path("x.json"))).array();
    };
    const QJsonArray all = saved(false);
    ASSERT_EQ(all.size(), 2);
    EXPECT_FALSE(all[0].toObject().contains("tiedLevel")) << "single, at level 5, first";
    EXPECT_EQ(all[1].toObject().value("tiedLevel").toInt(), 293);
    w.levelsView()->setCurrentIndex(w.levelsView()->model()->index(1, 0));
    const QJsonArray chosen = saved(true);
    ASSERT_EQ(chosen.size(), 1);
    EXPECT_EQ(chosen[0].toObject().value("login").toString(), "vallor6083");
    EXPECT_EQ(chosen[0].toObject().value("tiedLevel").toInt(), 293) << "a selected row too";
}

TEST_F(WindowTest, F5AndCtrlRRefreshLikeTheButton) {
    writeAccounts(2);
    frmMain &w = window();
    ASSERT_TRUE(loadAndWait(w));
    ASSERT_TRUE(showActive(w));
    writeAccounts(3);
    QTest::keyClick(w.levelsView(), Qt::Key_F5);
    EXPECT_TRUE(w.isScanning());
    ASSERT_TRUE(waitForScan(w));
    EXPECT_EQ(w.lvLevels().rowCount(), 3);
    writeAccounts(4);
    QTest::keyClick(w.levelsView(), Qt::Key_R, Qt::ControlModifier);
    ASSERT_TRUE(waitForScan(w));
    EXPECT_EQ(w.lvLevels().rowCount(), 4);
}

TEST_F(WindowTest, CellTooltipsShowCutOffTextTheCharactersAndTheLevelATieIsAt) {
    folder.write("accounts/a.ini", "[GENERAL]\nLogin=a login far too long for its column\n"
                                   "[CHAR1]\nLevel=5\nName=Aelric\n[CHAR2]\nName= Mirelle \n"
                                   "Level=40\n");
    folder.write("accounts/b.ini", accountFile("vallor6083", {"293", "12", "293"}));
    folder.write("accounts/c.ini", "[GENERAL]\nLogin=empty\n");
    frmMain &w = window();
    ASSERT_TRUE(loadAndWait(w));
    ASSERT_TRUE(showActive(w));
    const auto tooltipAt = [&](int row, int column) {
        QToolTip::hideText();
        const QRect cell = w.levelsView()->visualRect(w.levelsView()->model()->index(row, column));
        QHelpEvent help(QEvent::ToolTip, cell.center(),
                        w.levelsView()->viewport()->mapToGlobal(cell.center()));
        QCoreApplication::sendEvent(w.levelsView()->viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    EXPECT_EQ(tooltipAt(0, 1), "") << "a text that fits has none";
    EXPECT_EQ(tooltipAt(0, 0), "a login far too long for its column");
    EXPECT_FALSE(w.levelsView()->model()->index(0, 2).data(Qt::ToolTipRole).isValid())
        << "one slot is highest alone";
    EXPECT_EQ(tooltipAt(0, 3), "Slot 1: Aelric, level 5\nSlot 2: Mirelle, level 40");
    // The tied account, ranked as level 0 below the others.
    EXPECT_EQ(tooltipAt(1, 2), "Slots 1 and 3 share level 293");
    EXPECT_EQ(tooltipAt(1, 3),
              "Slot 1: One, level 293\nSlot 2: Two, level 12\nSlot 3: Three, level "
              "293");
    EXPECT_EQ(tooltipAt(2, 2), "Slots 1, 2 and 3 share level 0");
    EXPECT_EQ(tooltipAt(2, 3), "No characters");
}

TEST_F(WindowTest, FollowsChangesOnlyWhileAskedToAndReadsOnlyTheFilesChanged) {
    writeAccounts(2);
    frmMain &w = window();
    ASSERT_TRUE(loadAndWait(w));
    EXPECT_FALSE(w.refreshesWhenFilesChange()) << "off at every start";
    folder.write("accounts/new1.ini", accountFile("new1", 50));
    QTest::qWait(FolderFollower::kGatherMs + 500);
    EXPECT_EQ(w.lvLevels().rowCount(), 2) << "nothing while off";

    w.setRefreshWhenFilesChange(true);
    ASSERT_TRUE(eventually([&] { return !w.isScanning(); }, 15000));
    EXPECT_EQ(w.lvLevels().rowCount(), 3) << "switched on, the folder is read as it is now";
    EXPECT_TRUE(w.scanSummary()->toolTip().contains("following changes since"))
        << w.scanSummary()->toolTip().toStdString();
    int fullScans = 0;
    QObject::connect(&w, &frmMain::scanFinished, [&] { ++fullScans; });
    QElapsedTimer clock;
    clock.start();
    folder.write("accounts/new2.ini", accountFile("new2", 60));
    ASSERT_TRUE(eventually([&] { return w.lvLevels().rowCount() == 4; }, 5000))
        << "a new account file appears without a click";
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(fullScans, 0) << "only the file changed is read";
    EXPECT_EQ(w.lvLevels().cellText(0, 0), "new2");
    EXPECT_TRUE(w.scanSummary()->toolTip().contains("4 accounts from 4 account files"))
        << w.scanSummary()->toolTip().toStdString();
    EXPECT_TRUE(w.scanSummary()->toolTip().contains("following changes, the last at"));
    w.setRefreshWhenFilesChange(false);
    EXPECT_FALSE(w.scanSummary()->toolTip().contains("following"));
}

TEST(WindowPlace, MovesAFrameThatWouldLeaveTheScreenInsideItWhenItFits) {
    const QRect screen(0, 0, 1366, 738); // a 1366 x 768 screen less a panel
    // 504 x 435 at 97, 149 with a scale factor of 1.5: its bottom is off the screen.
    EXPECT_EQ(placedInside(QRect(145, 223, 756, 652), screen), QPoint(145, 86));
    EXPECT_EQ(placedInside(QRect(97, 149, 504, 435), screen), QPoint(97, 149)) << "it fits";
    EXPECT_EQ(placedInside(QRect(1300, -20, 504, 435), screen), QPoint(862, 0));
    // Larger than the screen: its top left corner on the screen, so that its title bar is.
    EXPECT_EQ(placedInside(QRect(194, 298, 1008, 870), QRect(0, 0, 1600, 800)), QPoint(194, 0));
    EXPECT_EQ(placedInside(QRect(100, 100, 500, 400), QRect(1920, 30, 1280, 994)),
              QPoint(1920, 100))
        << "a second screen's area";
}

TEST(WindowPlace, AtAFractionalScaleNoDevicePixelOfTheFrameLiesOffTheScreen) {
    // A 1366 x 768 screen at 1.25, 1.5 and 1.75: in logical pixels the area and the frame are
    // rounded, and a logical place may land half a device pixel further. Every frame from 300 to
    // 600 logical pixels, from wherever it was put, must end wholly inside the area's device
    // pixels, and as far down or right as that allows.
    for (const qreal scale : {1.25, 1.5, 1.75}) {
        const int width = static_cast<int>(1366 / scale), height = static_cast<int>(768 / scale);
        const QRect area(0, 0, width, height);
        for (int length = 300; length <= 436 && length <= height; ++length) {
            const QPoint place = placedInside(QRect(97, 400, 504, length), area, scale);
            const auto deviceTop = std::lround(place.y() * scale);
            const auto deviceBottom = deviceTop + static_cast<long>(std::ceil(length * scale));
            EXPECT_LE(deviceBottom, 768) << "scale " << scale << ", height " << length;
            EXPECT_GE(deviceTop, 0);
            // As far down as the area the window is told of lets it be.
            const auto areaBottom = static_cast<long>(std::floor(height * scale));
            EXPECT_GT(std::lround((place.y() + 1) * scale) +
                          static_cast<long>(std::ceil(length * scale)),
                      areaBottom)
                << "one logical pixel lower would leave the area: scale " << scale;
        }
    }
    EXPECT_EQ(placedInside(QRect(97, 149, 504, 435), QRect(0, 0, 1366, 738), 1.0), QPoint(97, 149))
        << "where it fits, it stays";
}

TEST(UnhandledErrors, AFolderThatCannotBeListedOnRefreshIsReportedAndEndsWith70) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto refreshOnAnUnreadableFolder = [] {
        TempFolder folder;
        folder.write("accounts/a.ini", accountFile("alice", 5));
        const QByteArray accounts = folder.path("accounts").toUtf8();
        if (::chmod(folder.path().toUtf8(), 0755) != 0 || ::chown(accounts, 65534, 65534) != 0 ||
            !dropPrivileges())
            std::_Exit(3);
        auto *box = static_cast<RecordingMessageBox *>(qApp->property("messages").value<void *>());
        frmMain w(folder.path(), *box);
        if (!loadAndWait(w) || w.lvLevels().rowCount() != 1)
            std::_Exit(4);
        w.show();
        ::chmod(accounts, 0); // the admin's permissions change while the window is open
        QTimer::singleShot(0, w.Command1(), &QPushButton::click);
        const int status = QApplication::exec();
        for (const auto &shown : box->shown)
            std::fprintf(stderr, "[%s|%d|%s]\n", shown.title.toUtf8().constData(), shown.style,
                         shown.text.toUtf8().constData());
        ::chmod(accounts, 0755);
        std::_Exit(status);
    };
    EXPECT_EXIT(
        refreshOnAnUnreadableFolder(), ::testing::ExitedWithCode(70),
        "\\[Orvantis\\|16\\|Orvantis met an error it cannot recover from and will close.\n\n"
        "Cannot read the folder .*/accounts/: Permission denied \\(70\\)\\]");
}

namespace {
class Throwing : public QObject {
public:
    bool event(QEvent *) override { throw std::runtime_error("the disk went away"); }
};
} // namespace

TEST(UnhandledErrors, AreReportedInPlainWordsAtOnePlace) {
    auto *app = static_cast<GuardedApplication *>(QCoreApplication::instance());
    RecordingMessageBox *box =
        static_cast<RecordingMessageBox *>(qApp->property("messages").value<void *>());
    box->shown.clear();
    Throwing object;
    QEvent event(QEvent::User);
    EXPECT_NO_THROW(QCoreApplication::sendEvent(&object, &event));
    EXPECT_TRUE(app->failed());
    ASSERT_EQ(box->shown.size(), 1u);
    EXPECT_EQ(box->shown[0].title, "Orvantis");
    EXPECT_EQ(box->shown[0].style, kCritical);
    EXPECT_TRUE(box->shown[0].text.contains("the disk went away"));
    EXPECT_TRUE(box->shown[0].text.contains("will close"));
}

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    RecordingMessageBox messages;
    GuardedApplication app(argc, argv, messages);
    app.setProperty("messages", QVariant::fromValue(static_cast<void *>(&messages)));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
