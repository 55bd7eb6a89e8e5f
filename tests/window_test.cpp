// The window: its layout and focus, its start, and its scans running behind it.
#include "windowtest.h"

using namespace orvantis;

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
