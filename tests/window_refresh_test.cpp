// The window's Refresh and what it says of each scan: the rows replaced in one step, the line
// beside Refresh, the files left out, its place on the screen, and errors it cannot recover from.
#include "windowtest.h"

using namespace orvantis;

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
