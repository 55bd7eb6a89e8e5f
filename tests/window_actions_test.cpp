// What the window does with its rows: the list's menu, saving, finding, tooltips, keys, and
// following the folder's changes.
#include "smalltmpfs.h"
#include "windowtest.h"

using namespace orvantis;

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
