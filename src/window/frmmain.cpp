#include "window/frmmain.h"

#include "platform/exitstatus.h"
#include "scan/reading/accountsfolder.h"
#include "window/celltooltips.h"
#include "window/errorreport.h"
#include "window/findbar.h"
#include "window/listmenu.h"
#include "window/scansummary.h"
#include "window/summaryline.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTreeView>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <climits>

namespace orvantis {

namespace {

const QString kCaption = QStringLiteral("Orvantis v1.4 - by Quellmar");
constexpr int kTwipsPerInch = 1440;

// Layout in twips: client area, then left, top, width, height of each control.
constexpr int kClientWidth = 7560, kClientHeight = 6525;
constexpr int kClientLeft = 1455, kClientTop = 2235;
constexpr int kListRect[] = {120, 360, 7335, 5775};
constexpr int kLabelRect[] = {120, 120, 1575, 255};
constexpr int kButtonRect[] = {6480, 6240, 975, 255};
// The free strip left of the button, where a long scan shows its progress.
constexpr int kProgressRect[] = {120, 6240, 6240, 255};
constexpr int kColumnWidth = 1440;

// How often the window looks at a running scan, and how long a scan runs before its progress
// is shown (a short one would only flash a bar).
constexpr int kScanPollMs = 30;
constexpr qint64 kProgressAfterMs = 500;

// What the "Accounts folder not found!" box says of where the program looked, and what to do
// about it, in the commands of the system at hand.
QString accountsFolderHint(const QString &programFolder) {
    QString where = whereNoAccountsFolderIs(programFolder);
    where[0] = where[0].toUpper();
#ifdef Q_OS_WIN
    const QString remedy = QStringLiteral(
        "To show a server's accounts, start Orvantis with the folder that holds them:\n"
        "    orvantis.exe D:\\Game\nor give the program's folder a link to them, named "
        "accounts:\n    mklink /J \"%1\\accounts\" D:\\Game\\accounts");
    const QString folder = QDir::toNativeSeparators(QFileInfo(programFolder).absoluteFilePath());
#else
    const QString remedy = QStringLiteral(
        "To show a server's accounts, start Orvantis with the folder that holds them:\n"
        "    orvantis /srv/game\nor give the program's folder a link to them, named "
        "accounts:\n    ln -s /srv/game/accounts %1/accounts");
    const QString folder = QFileInfo(programFolder).absoluteFilePath();
#endif
    return where + QStringLiteral(".\n\n") + remedy.arg(folder);
}

} // namespace

frmMain::frmMain(QString programFolder, MessageBox &messages, ScanSettings scanSettings,
                 FolderFollower::WatchMaker makeWatch, QWidget *parent)
    : QWidget(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      programFolder_(std::move(programFolder)), messages_(messages),
      model_(new AccountsModel(this)), levelsView_(new QTreeView(this)),
      label1_(new QLabel(QStringLiteral("Levels (Highest first):"), this)),
      command1_(new QPushButton(QStringLiteral("Refresh"), this)),
      progress_(new QProgressBar(this)), summary_(new SummaryLine(this)),
      findBar_(new FindBar(
          *model_, [this] { return levelsView_->currentIndex().row(); }, levelsView_)),
      rowActions_(new RowActions(*levelsView_, *model_, messages, *this)),
      refreshOnChange_(addListMenu(*levelsView_, *rowActions_, *this)),
      viewKeeper_(*levelsView_, *model_),
      follower_(programFolder_, std::move(scanSettings), std::move(makeWatch)) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(kCaption);
    // A tool window is not a main window to Qt; closing it still ends the program.
    setAttribute(Qt::WA_QuitOnClose, true);

    setUpList();
    setUpControls();
    connect(summary_, &SummaryLine::detailsAsked, this, &frmMain::showLeftOutFiles);
    scanTimer_.setInterval(kScanPollMs);
    connect(&scanTimer_, &QTimer::timeout, this, &frmMain::watchScan);
    wireFollower();

    setTabOrder(levelsView_, command1_);
    setTabOrder(command1_, summary_);
    layOut();
}

frmMain::~frmMain() {
    stopScan();
    // The view reads its model: the view goes first.
    delete levelsView_;
    delete model_;
}

// The list, its keys and its find bar.
void frmMain::setUpList() {
    levelsView_->setObjectName(QStringLiteral("lvLevels"));
    levelsView_->setModel(model_);
    levelsView_->setRootIsDecorated(false);
    levelsView_->setItemsExpandable(false);
    levelsView_->setUniformRowHeights(true);
    levelsView_->setAllColumnsShowFocus(true);
    levelsView_->setSelectionBehavior(QAbstractItemView::SelectRows);
    levelsView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    levelsView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    levelsView_->setSortingEnabled(false);
    levelsView_->header()->setSectionsClickable(false);
    levelsView_->header()->setSectionsMovable(false);
    levelsView_->header()->setStretchLastSection(false);
    levelsView_->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    levelsView_->setAccessibleName(QStringLiteral("Levels, highest first"));
    levelsView_->setAccessibleDescription(QStringLiteral(
        "One row per account: user name, highest level, character number and character name"));
    new CellToolTips(*levelsView_);
    connect(refreshOnChange_, &QAction::toggled, this, &frmMain::setRefreshWhenFilesChange);
    addKeys();
    connect(findBar_, &FindBar::found, this, [this](int row) { viewKeeper_.makeRowCurrent(row); });
    connect(findBar_, &FindBar::closed, levelsView_, qOverload<>(&QWidget::setFocus));
}

// The label, the Refresh button and the scan's progress bar.
void frmMain::setUpControls() {
    label1_->setObjectName(QStringLiteral("Label1"));
    label1_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label1_->setFocusPolicy(Qt::NoFocus);

    command1_->setObjectName(QStringLiteral("Command1"));
    command1_->setAutoDefault(false);
    command1_->setDefault(false);
    command1_->setAccessibleName(QStringLiteral("Refresh"));
    command1_->setAccessibleDescription(QStringLiteral("Reads the accounts folder again"));
    connect(command1_, &QPushButton::clicked, this, &frmMain::Command1_Click);

    progress_->setObjectName(QStringLiteral("scanProgress"));
    progress_->setAccessibleName(QStringLiteral("Scan progress"));
    progress_->setFocusPolicy(Qt::NoFocus);
    progress_->hide();
}

// The follower reads the folder; the window shows what it reads, and keeps its view meanwhile.
void frmMain::wireFollower() {
    follower_.setSteps(&model_->steps());
    connect(&follower_, &FolderFollower::readStarted, this, &frmMain::startBusy);
    connect(&follower_, &FolderFollower::rankingReplaced, this, &frmMain::showRanking);
    connect(&follower_, &FolderFollower::failed, this, &frmMain::endWithError);
    connect(&follower_, &FolderFollower::changesApplying, this,
            [this] { viewKeeper_.rememberBeforeChanging(); });
    connect(&follower_, &FolderFollower::changesApplied, this, &frmMain::showChanges);
    connect(&follower_, &FolderFollower::followingChanged, this, &frmMain::showScanSummary);
}

// The window's own keys: finding, and Refresh.
void frmMain::addKeys() {
    auto *find = new QAction(QStringLiteral("Find"), this);
    find->setShortcut(QKeySequence::Find);
    connect(find, &QAction::triggered, this, &frmMain::openFindBar);
    auto *next = new QAction(QStringLiteral("Find Next"), this);
    next->setShortcut(QKeySequence(Qt::Key_F3));
    connect(next, &QAction::triggered, findBar_, &FindBar::findNext);
    auto *previous = new QAction(QStringLiteral("Find Previous"), this);
    previous->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3));
    connect(previous, &QAction::triggered, findBar_, &FindBar::findPrevious);
    auto *refresh = new QAction(QStringLiteral("Refresh"), this);
    refresh->setShortcuts({QKeySequence(Qt::Key_F5), QKeySequence(Qt::CTRL | Qt::Key_R)});
    connect(refresh, &QAction::triggered, this, &frmMain::Command1_Click);
    QWidget::addActions({find, next, previous, refresh});
}

QLabel *frmMain::scanSummary() const {
    return summary_;
}

int frmMain::pixels(int twips) const {
    return qRound(twips * logicalDpiX() / double(kTwipsPerInch));
}

void frmMain::layOut() {
    auto place = [this](QWidget *w, const int(&r)[4]) {
        w->setGeometry(pixels(r[0]), pixels(r[1]), pixels(r[2]), pixels(r[3]));
    };
    place(levelsView_, kListRect);
    place(label1_, kLabelRect);
    place(command1_, kButtonRect);
    place(progress_, kProgressRect);
    place(summary_, kProgressRect);
    // The heading keeps its place; where the default font is wider than the design's, it grows
    // to show its whole text rather than cut it.
    label1_->resize(std::max(label1_->width(), label1_->sizeHint().width()), label1_->height());
    for (int column = 0; column < model_->columnCount(); ++column)
        levelsView_->header()->resizeSection(column, pixels(kColumnWidth));
    setFixedSize(pixels(kClientWidth), pixels(kClientHeight));
    move(0, 0); // the frame is placed so that the client area lands where it should
    setGeometry(pixels(kClientLeft), pixels(kClientTop), pixels(kClientWidth),
                pixels(kClientHeight));
    levelsView_->setFocus();
}

// The fixed place may put part of the window off a small or scaled screen: then it moves, as
// little as it can, to lie inside the screen's available area.
void frmMain::keepOnScreen() {
    if (const QScreen *shown = screen()) {
        const QRect frame = frameGeometry();
        const QPoint place =
            placedInside(frame, shown->availableGeometry(), shown->devicePixelRatio());
        if (place != frame.topLeft())
            move(place);
    }
}

void frmMain::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (placedOnScreen_)
        return;
    placedOnScreen_ = true;
    keepOnScreen();
    // The window manager adds its frame after the window is shown: look again once it has.
    QTimer::singleShot(0, this, &frmMain::keepOnScreen);
}

// The find bar lies over the bottom of the list's rows, inside its frame, while it is open.
void frmMain::openFindBar() {
    const QRect rows = levelsView_->viewport()->geometry();
    const int height = findBar_->sizeHint().height();
    findBar_->setGeometry(rows.left(), rows.bottom() + 1 - height, rows.width(), height);
    findBar_->open();
}

void frmMain::setRefreshWhenFilesChange(bool on) {
    if (refreshOnChange_->isChecked() != on) {
        refreshOnChange_->setChecked(on); // comes back here through toggled
        return;
    }
    follower_.setFollowing(on);
}

bool frmMain::refreshesWhenFilesChange() const {
    return refreshOnChange_->isChecked();
}

bool frmMain::Form_Load() {
    const AccountsFolderSearch search = findAccountsFolder(programFolder_);
    if (search.failure) {
        endWithError(*search.failure);
        startStatus_ = kExitUnhandledError;
        return false;
    }
    if (!search.found) {
        messages_.showInformed(QStringLiteral("Accounts folder not found!"),
                               accountsFolderHint(programFolder_), kOkOnly, QString());
        startStatus_ = kExitNoAccountsFolder;
        return false;
    }
    GetScores();
    return true;
}

void frmMain::Command1_Click() {
    GetScores(); // nothing while a scan runs: the button is disabled meanwhile
}

void frmMain::GetScores() {
    follower_.readWhole(); // one scan at a time, busy from its start on; its rows come at its end
}

void frmMain::startBusy() {
    if (scanTimer_.isActive())
        return;
    command1_->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    scanClock_.start();
    scanTimer_.start();
}

bool frmMain::stopScan() {
    const bool ended = follower_.stopReading();
    endBusy();
    return ended;
}

void frmMain::watchScan() {
    if (!follower_.isReading()) {
        endBusy(); // stopped
        return;
    }
    if (scanClock_.elapsed() >= kProgressAfterMs) {
        const size_t found = std::min<size_t>(follower_.filesFound(), INT_MAX);
        const size_t read = std::min<size_t>(follower_.filesRead(), INT_MAX);
        progress_->setRange(0, static_cast<int>(found));
        progress_->setValue(static_cast<int>(read));
        // Made here, not by the bar from "%v of %m", which would write the user's digits.
        progress_->setFormat(QStringLiteral("%1 of %2 account files read").arg(read).arg(found));
        summary_->hide();
        progress_->show();
    }
}

void frmMain::endBusy() {
    if (!scanTimer_.isActive())
        return;
    scanTimer_.stop();
    progress_->hide();
    command1_->setEnabled(true);
    QApplication::restoreOverrideCursor();
}

// Reported here and the program ended: nothing is thrown across the event loop.
void frmMain::endWithError(const ScanFailure &failure) {
    endBusy();
    summary_->showText(scanFailedText(failure.text));
    reportUnhandledError(messages_, failure.text, failure.number);
    QCoreApplication::exit(kExitUnhandledError);
    emit scanFinished();
}

void frmMain::showRanking(bool asked) {
    endBusy();
    // The records are complete and ranked: they replace the list's in one step, and the account
    // that was current is current again.
    viewKeeper_.rememberBeforeReplacing();
    model_->setRanking(follower_.sharedRanking());
    // The ranking replaced was made by the scan's threads, whose freed memory the allocator
    // would otherwise keep in their arenas: a window refreshed all day would hold it all.
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
    viewKeeper_.restoreAfterReplacing();
    findBar_->rowsReplaced();
    readAt_ = QTime::currentTime();
    showScanSummary();
    if (asked)
        reportSkipped(model_->ranking().report());
    emit scanFinished();
}

void frmMain::showChanges(bool reset) {
    viewKeeper_.restoreAfterChanging(reset);
    findBar_->rowsReplaced();
    showScanSummary();
    emit changesApplied();
}

void frmMain::showScanSummary() {
    if (!readAt_.isValid())
        return; // no rows read yet
    const ScanReport &report = model_->ranking().report();
    const int accounts = model_->rowCount();
    const Following &following = follower_.following();
    summary_->showText(scanSummaryText(report, accounts, readAt_, SummaryForm::Whole, following),
                       scanSummaryText(report, accounts, readAt_, SummaryForm::Short, following));
}

// Tells once, after the scan, which files were left out and why.
void frmMain::reportSkipped(const ScanReport &report) {
    const LeftOutReport left = leftOutReport(report);
    if (!left.text.isEmpty())
        messages_.showWithDetails(left.text, kExclamation, QString(), left.details);
}

void frmMain::showLeftOutFiles() {
    reportSkipped(model_->ranking().report());
}

} // namespace orvantis
