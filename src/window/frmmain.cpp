#include "window/frmmain.h"

#include "platform/exitstatus.h"
#include "platform/failure.h"
#include "scan/accountsfolder.h"
#include "scan/reportcolumns.h"
#include "window/accountsmodel.h"
#include "window/errorreport.h"
#include "window/findbar.h"
#include "window/scansummary.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTextDocumentFragment>
#include <QToolTip>
#include <QTreeView>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <climits>
#include <cstdint>

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

} // namespace

frmMain::frmMain(QString programFolder, MessageBox &messages, ScanSettings scanSettings,
                 ScanController::WatchMaker makeWatch, QWidget *parent)
    : QWidget(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      programFolder_(std::move(programFolder)), messages_(messages),
      model_(new AccountsModel(this)), levelsView_(new QTreeView(this)),
      label1_(new QLabel(QStringLiteral("Levels (Highest first):"), this)),
      command1_(new QPushButton(QStringLiteral("Refresh"), this)),
      progress_(new QProgressBar(this)), summary_(new QLabel(this)),
      findBar_(new FindBar(
          *model_, [this] { return levelsView_->currentIndex().row(); }, levelsView_)),
      rowActions_(new RowActions(*levelsView_, *model_, messages, *this)),
      controller_(programFolder_, std::move(scanSettings), std::move(makeWatch)) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(kCaption);
    // A tool window is not a main window to Qt; closing it still ends the program.
    setAttribute(Qt::WA_QuitOnClose, true);

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
    levelsView_->viewport()->installEventFilter(this); // tooltips for text cut off
    makeActions();
    connect(findBar_, &FindBar::found, this, &frmMain::makeRowCurrent);
    connect(findBar_, &FindBar::closed, levelsView_, qOverload<>(&QWidget::setFocus));

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

    summary_->setObjectName(QStringLiteral("scanSummary"));
    summary_->setAccessibleName(QStringLiteral("Scan summary"));
    summary_->setTextFormat(Qt::RichText);
    summary_->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    summary_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    summary_->setFocusPolicy(Qt::NoFocus);
    connect(summary_, &QLabel::linkActivated, this, &frmMain::showLeftOutFiles);
    summary_->installEventFilter(this);

    scanTimer_.setInterval(kScanPollMs);
    connect(&scanTimer_, &QTimer::timeout, this, &frmMain::watchScan);
    connect(&controller_, &ScanController::scanStarted, this, &frmMain::startBusy);
    connect(&controller_, &ScanController::scanEnded, this, &frmMain::scanEnded);
    connect(&controller_, &ScanController::changesRead, this, &frmMain::applyChanges);
    connect(&controller_, &ScanController::followingChanged, this, &frmMain::showScanSummary);

    setTabOrder(levelsView_, command1_);
    setTabOrder(command1_, summary_);
    layOut();
}

frmMain::~frmMain() {
    stopScan();
    // The view's parts are not to be looked at while the view goes.
    levelsView_->viewport()->removeEventFilter(this);
    summary_->removeEventFilter(this);
    // The view reads its model: the view goes first.
    delete levelsView_;
    delete model_;
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

// The list's actions, in its context menu and on their keys, and the window's own keys.
void frmMain::makeActions() {
    addListAction(QStringLiteral("Copy"), QKeySequence::Copy, &RowActions::copySelectedRows);
    addListAction(QStringLiteral("Copy with Column Titles"),
                  QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C),
                  &RowActions::copySelectedRowsWithTitles);
    addListAction(QStringLiteral("Save As…"), QKeySequence::Save, &RowActions::saveAllAs);
    addListAction(QStringLiteral("Save Selected Rows As…"), QKeySequence(),
                  &RowActions::saveSelectedAs);
    addListAction(QStringLiteral("Open Account File"), QKeySequence(Qt::CTRL | Qt::Key_O),
                  &RowActions::openAccountFile);
    addListAction(QStringLiteral("Show in Folder"), QKeySequence(),
                  &RowActions::showAccountFileInFolder);
    auto *separator = new QAction(levelsView_);
    separator->setSeparator(true);
    levelsView_->addAction(separator);
    refreshOnChange_ = new QAction(QStringLiteral("Refresh When Files Change"), levelsView_);
    refreshOnChange_->setCheckable(true); // off at every start: nothing is kept
    connect(refreshOnChange_, &QAction::toggled, this, &frmMain::setRefreshWhenFilesChange);
    levelsView_->addAction(refreshOnChange_);
    levelsView_->setContextMenuPolicy(Qt::ActionsContextMenu);
    // Shift+F10 opens the menu as the Menu key does, at the current row.
    auto *menuKey = new QAction(QStringLiteral("Context Menu"), this);
    menuKey->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10));
    connect(menuKey, &QAction::triggered, this, &frmMain::openListMenu);
    QWidget::addAction(menuKey);

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

void frmMain::openListMenu() {
    const QRect current = levelsView_->visualRect(levelsView_->currentIndex());
    const QPoint at =
        current.isValid() ? current.center() : levelsView_->viewport()->rect().topLeft();
    QContextMenuEvent event(QContextMenuEvent::Keyboard, at,
                            levelsView_->viewport()->mapToGlobal(at));
    QCoreApplication::sendEvent(levelsView_->viewport(), &event);
}

// The find bar lies over the bottom of the list's rows, inside its frame, while it is open.
void frmMain::openFindBar() {
    const QRect rows = levelsView_->viewport()->geometry();
    const int height = findBar_->sizeHint().height();
    findBar_->setGeometry(rows.left(), rows.bottom() + 1 - height, rows.width(), height);
    findBar_->open();
}

QAction *frmMain::addListAction(const QString &text, const QKeySequence &keys,
                                void (RowActions::*slot)()) {
    auto *action = new QAction(text, levelsView_);
    action->setShortcut(keys);
    action->setShortcutContext(Qt::WidgetShortcut);
    connect(action, &QAction::triggered, rowActions_, slot);
    levelsView_->addAction(action);
    return action;
}

void frmMain::makeRowCurrent(int row) {
    const QModelIndex index = model_->index(row, 0);
    levelsView_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                              QItemSelectionModel::Rows);
    levelsView_->scrollTo(index, QAbstractItemView::PositionAtCenter);
}

bool frmMain::eventFilter(QObject *watched, QEvent *event) {
    if (watched == levelsView_->viewport() && event->type() == QEvent::ToolTip)
        return showCellToolTip(event);
    if (watched == summary_ && event->type() == QEvent::KeyPress)
        return summaryKeyPressed(static_cast<QKeyEvent *>(event));
    return QWidget::eventFilter(watched, event);
}

// The summary's one link takes one stop in the tab order: a label would keep Tab to go from
// link to link, and hold it there. Enter or Space opens the link.
bool frmMain::summaryKeyPressed(const QKeyEvent *key) {
    switch (key->key()) {
    case Qt::Key_Tab:
        focusNextPrevChild(!(key->modifiers() & Qt::ShiftModifier));
        return true;
    case Qt::Key_Backtab:
        focusNextPrevChild(false);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        showLeftOutFiles();
        return true;
    default:
        return false;
    }
}

// A cell shows its tooltip, or, where it has none and its text does not fit its column, the
// whole text.
bool frmMain::showCellToolTip(QEvent *event) {
    const auto *help = static_cast<QHelpEvent *>(event);
    const QModelIndex index = levelsView_->indexAt(help->pos());
    const QRect cell = levelsView_->visualRect(index);
    QString text = index.data(Qt::ToolTipRole).toString();
    if (text.isEmpty()) {
        text = index.data().toString();
        // The view leaves a margin on either side of a cell's text.
        const int margin = levelsView_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1;
        if (levelsView_->fontMetrics().horizontalAdvance(text) + 2 * margin <= cell.width())
            text.clear();
    }
    if (index.isValid() && !text.isEmpty())
        QToolTip::showText(help->globalPos(), text, levelsView_->viewport(), cell);
    else
        QToolTip::hideText();
    return true;
}

void frmMain::setRefreshWhenFilesChange(bool on) {
    if (refreshOnChange_->isChecked() != on) {
        refreshOnChange_->setChecked(on); // comes back here through toggled
        return;
    }
    controller_.setFollowing(on);
}

bool frmMain::refreshesWhenFilesChange() const {
    return refreshOnChange_->isChecked();
}

bool frmMain::Form_Load() {
    if (!accountsFolderFound(programFolder_)) {
        QString where = whereNoAccountsFolderIs(programFolder_);
        where[0] = where[0].toUpper();
        // What to do about it, in the commands of the system at hand.
#ifdef Q_OS_WIN
        const QString remedy = QStringLiteral(
            "To show a server's accounts, start Orvantis with the folder that holds them:\n"
            "    orvantis.exe D:\\Game\nor give the program's folder a link to them, named "
            "accounts:\n    mklink /J \"%1\\accounts\" D:\\Game\\accounts");
        const QString programFolder =
            QDir::toNativeSeparators(QFileInfo(programFolder_).absoluteFilePath());
#else
        const QString remedy = QStringLiteral(
            "To show a server's accounts, start Orvantis with the folder that holds them:\n"
            "    orvantis /srv/game\nor give the program's folder a link to them, named "
            "accounts:\n    ln -s /srv/game/accounts %1/accounts");
        const QString programFolder = QFileInfo(programFolder_).absoluteFilePath();
#endif
        messages_.showInformed(QStringLiteral("Accounts folder not found!"),
                               where + QStringLiteral(".\n\n") + remedy.arg(programFolder), kOkOnly,
                               QString());
        return false;
    }
    GetScores();
    return true;
}

void frmMain::Command1_Click() {
    if (controller_.isScanning())
        return; // the button is disabled while a scan runs
    GetScores();
}

void frmMain::GetScores() {
    if (controller_.isScanning())
        return;         // one scan at a time; its rows come when it ends
    controller_.scan(); // busy from its start on
}

void frmMain::startBusy() {
    if (scanTimer_.isActive())
        return;
    command1_->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    scanClock_.start();
    scanTimer_.start();
}

bool frmMain::isScanning() const {
    return controller_.isScanning();
}

bool frmMain::stopScan() {
    const bool ended = controller_.stopScan();
    endBusy();
    return ended;
}

void frmMain::watchScan() {
    if (!controller_.isScanning()) {
        endBusy(); // stopped
        return;
    }
    if (scanClock_.elapsed() >= kProgressAfterMs) {
        const size_t found = std::min<size_t>(controller_.filesFound(), INT_MAX);
        const size_t read = std::min<size_t>(controller_.filesRead(), INT_MAX);
        progress_->setRange(0, static_cast<int>(found));
        progress_->setValue(static_cast<int>(read));
        // Made here, not by the bar from "%v of %m", which would write the user's digits.
        progress_->setFormat(QStringLiteral("%1 of %2 account files read").arg(read).arg(found));
        summary_->hide();
        progress_->show();
    }
}

// Reported here and the program ended, never thrown: an exception must not cross the event loop.
void frmMain::endWithError(std::exception_ptr error) noexcept {
    endBusy();
    try {
        std::rethrow_exception(std::move(error));
    } catch (const std::exception &failure) {
        showSummary(scanFailedText(describeError(failure)));
        reportUnhandledError(messages_, failure);
    } catch (...) {
    }
    QCoreApplication::exit(kExitUnhandledError);
}

void frmMain::scanEnded(const ScanEnd &end) {
    endBusy();
    if (end.error) {
        endWithError(end.error);
        emit scanFinished();
        return;
    }
    try {
        showRanking(end);
    } catch (...) {
        endWithError(std::current_exception());
    }
    emit scanFinished();
}

void frmMain::showRanking(const ScanEnd &end) {
    // The records are complete and ranked: they replace the list's in one step, and the account
    // that was current is current again.
    const QString current = currentLogin();
    model_->setRanking(end.ranking);
    // The ranking replaced was made by the scan's threads, whose freed memory the allocator
    // would otherwise keep in their arenas: a window refreshed all day would hold it all.
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
    makeCurrent(current);
    findBar_->rowsReplaced();
    readAt_ = QTime::currentTime();
    showScanSummary();
    if (!end.quiet)
        reportSkipped(model_->ranking().report());
}

void frmMain::applyChanges(const std::vector<ChangedFile> &files) {
    try {
        keepViewWhileApplying(files);
    } catch (...) {
        endWithError(std::current_exception());
    }
    emit changesApplied();
}

// Each step keeps the selection and the current row. The rows shown stay: the first row in
// view is first again, unless the list was at its top, which a leaderboard keeps in view.
void frmMain::keepViewWhileApplying(const std::vector<ChangedFile> &files) {
    // Accounts by their places, which changes keep; -1 for none.
    const auto placeAt = [this](const QModelIndex &index) {
        return index.isValid() ? int64_t{model_->place(index.row())} : int64_t{-1};
    };
    const bool atTop = levelsView_->verticalScrollBar()->value() == 0;
    const int64_t topPlace = placeAt(levelsView_->indexAt(QPoint(0, 0)));
    const int64_t currentPlace = placeAt(levelsView_->currentIndex());
    std::vector<uint32_t> selected;
    for (const QModelIndex &index : levelsView_->selectionModel()->selectedRows())
        selected.push_back(model_->place(index.row()));

    const bool reset = model_->applyChanges(files);
    const LiveRanking &ranking = model_->ranking();
    if (reset) { // many at once: the selection is put back by account
        QItemSelection selection;
        for (uint32_t place : selected)
            if (const auto row = ranking.rowOf(place))
                selection.select(model_->index(static_cast<int>(*row), 0),
                                 model_->index(static_cast<int>(*row), model_->columnCount() - 1));
        if (currentPlace >= 0)
            if (const auto row = ranking.rowOf(static_cast<uint32_t>(currentPlace)))
                levelsView_->selectionModel()->setCurrentIndex(
                    model_->index(static_cast<int>(*row), 0), QItemSelectionModel::NoUpdate);
        levelsView_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    }
    if (atTop)
        levelsView_->scrollToTop();
    else if (topPlace >= 0)
        if (const auto row = ranking.rowOf(static_cast<uint32_t>(topPlace)))
            levelsView_->scrollTo(model_->index(static_cast<int>(*row), 0),
                                  QAbstractItemView::PositionAtTop);
    findBar_->rowsReplaced();
    showScanSummary();
}

void frmMain::showScanSummary() {
    if (!readAt_.isValid())
        return; // no rows read yet
    const ScanReport &report = model_->ranking().report();
    const int accounts = model_->rowCount();
    const Following following{controller_.isFollowing(), controller_.followProblem(),
                              controller_.followingSince().time(), controller_.lastChange().time()};
    showSummary(scanSummaryText(report, accounts, readAt_, SummaryForm::Whole, following),
                scanSummaryText(report, accounts, readAt_, SummaryForm::Short, following));
}

void frmMain::showSummary(const QString &text, const QString &shortText) {
    if (text == summaryText_ && summary_->isVisibleTo(this))
        return; // as it was: a change in the same second says nothing new
    summaryText_ = text;
    // A label named for assistive technology gives them its name, not its text: the whole text
    // goes to them as the description, and as a tooltip. The strip shows the short form where the
    // whole one would be cut, and with it the link.
    const QString plain = QTextDocumentFragment::fromHtml(text).toPlainText();
    const bool fits = summary_->fontMetrics().horizontalAdvance(plain) <= summary_->width();
    summary_->setText(fits || shortText.isEmpty() ? text : shortText);
    summary_->setToolTip(plain);
    summary_->setAccessibleDescription(plain);
    // The tab order is the list's and Refresh's, and the line's only while it holds a link.
    summary_->setFocusPolicy(text.contains(QLatin1String("<a ")) ? Qt::TabFocus : Qt::NoFocus);
    summary_->show();
}

QString frmMain::currentLogin() const {
    const QModelIndex current = levelsView_->currentIndex();
    return current.isValid() && current.row() < model_->rowCount()
               ? model_->cellText(current.row(), kLoginColumn)
               : QString();
}

void frmMain::makeCurrent(const QString &login) {
    if (login.isEmpty())
        return;
    const AccountRecords &records = model_->records();
    for (int row = 0; row < model_->rowCount(); ++row) {
        if (records.login(static_cast<size_t>(row)) != login)
            continue;
        const QModelIndex index = model_->index(row, 0);
        levelsView_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                                  QItemSelectionModel::Rows);
        levelsView_->scrollTo(index, QAbstractItemView::PositionAtCenter);
        return;
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
