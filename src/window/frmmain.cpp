#include "window/frmmain.h"

#include "platform/failure.h"
#include "platform/writeall.h"
#include "reportlist/rowtext.h"
#include "scan/accountranking.h"
#include "scan/accountsfolder.h"
#include "scan/reportcolumns.h"
#include "window/accountsmodel.h"
#include "window/findbar.h"
#include "window/scansummary.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QStyle>
#include <QTextDocumentFragment>
#include <QToolTip>
#include <QTreeView>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

} // namespace

frmMain::frmMain(QString programFolder, MessageBox &messages, ScanSettings scanSettings,
                 QWidget *parent)
    : QWidget(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      programFolder_(std::move(programFolder)), messages_(messages),
      model_(new AccountsModel(this)), levelsView_(new QTreeView(this)),
      label1_(new QLabel(QStringLiteral("Levels (Highest first):"), this)),
      command1_(new QPushButton(QStringLiteral("Refresh"), this)),
      progress_(new QProgressBar(this)), summary_(new QLabel(this)),
      findBar_(new FindBar(
          *model_, [this] { return levelsView_->currentIndex().row(); }, levelsView_)),
      scanSettings_(std::move(scanSettings)) {
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
    changeTimer_.setSingleShot(true);
    connect(&changeTimer_, &QTimer::timeout, this, &frmMain::refreshForChanges);

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
    addListAction(QStringLiteral("Copy"), QKeySequence::Copy, &frmMain::copySelectedRows);
    addListAction(QStringLiteral("Copy with Column Titles"),
                  QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C),
                  &frmMain::copySelectedRowsWithTitles);
    addListAction(QStringLiteral("Save As…"), QKeySequence::Save, &frmMain::saveAllAs);
    addListAction(QStringLiteral("Save Selected Rows As…"), QKeySequence(),
                  &frmMain::saveSelectedAs);
    addListAction(QStringLiteral("Open Account File"), QKeySequence(Qt::CTRL | Qt::Key_O),
                  &frmMain::openAccountFile);
    addListAction(QStringLiteral("Show in Folder"), QKeySequence(),
                  &frmMain::showAccountFileInFolder);
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
                                void (frmMain::*slot)()) {
    auto *action = new QAction(text, levelsView_);
    action->setShortcut(keys);
    action->setShortcutContext(Qt::WidgetShortcut);
    connect(action, &QAction::triggered, this, slot);
    levelsView_->addAction(action);
    return action;
}

// In the order shown, whatever the order of selecting.
std::vector<int> frmMain::selectedRowNumbers() const {
    std::vector<int> rows;
    for (const QModelIndex &index : levelsView_->selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

QStringList frmMain::cellsOf(int row) const {
    QStringList cells;
    for (int column = 0; column < model_->columnCount(); ++column)
        cells << model_->cellText(row, column);
    return cells;
}

QString frmMain::selectedRowsText() const {
    QString text;
    for (int row : selectedRowNumbers())
        text += tabSeparatedLine(cellsOf(row)) + u'\n';
    return text;
}

void frmMain::copySelectedRows() {
    const QString text = selectedRowsText();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

void frmMain::copySelectedRowsWithTitles() {
    const QString text = selectedRowsText();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(reportColumnTitles().join(u'\t') + u'\n' + text);
}

QString frmMain::accountFileOf(int row) const {
    return lastReport_.accountFileOf(model_->place(row));
}

bool frmMain::saveRows(const QString &path, RankingFormat format, bool selectedOnly) {
    std::vector<size_t> chosen;
    if (selectedOnly)
        for (int row : selectedRowNumbers())
            chosen.push_back(static_cast<size_t>(row));
    const QByteArray text = rankingText(model_->records(), model_->characters(), format, -1,
                                        CellText::AsIs, selectedOnly ? &chosen : nullptr);
    // Written beside it, and put in its place only once every byte is on the disk. Not through
    // QSaveFile's buffer: a small file would wait there for commit(), where a failed write does
    // not keep it from replacing the old file with a cut one.
    QSaveFile file(path);
    QString failure;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        failure = file.errorString();
    } else if (const int error =
                   writeAll(file.handle(), text.constData(), static_cast<size_t>(text.size()))) {
        failure = systemErrorText(error);
    } else if (::fsync(file.handle()) != 0) {
        failure = systemErrorText(errno);
    } else if (!file.commit()) {
        failure = file.errorString();
    }
    if (!failure.isEmpty()) {
        file.cancelWriting();
        messages_.show(QStringLiteral("Could not save %1: %2").arg(path, failure), kCritical,
                       QString());
        return false;
    }
    return true;
}

void frmMain::saveAllAs() {
    saveAs(false);
}

void frmMain::saveSelectedAs() {
    saveAs(true);
}

void frmMain::saveAs(bool selectedOnly) {
    static const QString kTsv = QStringLiteral("Tab-separated values (*.tsv)");
    static const QString kCsv = QStringLiteral("Comma-separated values (*.csv)");
    static const QString kJson = QStringLiteral("JSON (*.json)");
    QString filter = kTsv;
    QString path =
        desktop_->chooseSaveFile(this, QStringList{kTsv, kCsv, kJson}.join(";;"), &filter);
    if (path.isEmpty())
        return;
    const QString suffix = QFileInfo(path).suffix().toLower();
    RankingFormat format = filter == kCsv    ? RankingFormat::Csv
                           : filter == kJson ? RankingFormat::Json
                                             : RankingFormat::Tsv;
    if (const auto named = rankingFormatNamed(suffix))
        format = *named; // the name the user typed wins
    else
        path += format == RankingFormat::Csv    ? QStringLiteral(".csv")
                : format == RankingFormat::Json ? QStringLiteral(".json")
                                                : QStringLiteral(".tsv");
    saveRows(path, format, selectedOnly);
}

void frmMain::openAccountFile() {
    const QModelIndex current = levelsView_->currentIndex();
    if (!current.isValid())
        return;
    const QString file = accountFileOf(current.row());
    if (!file.isEmpty() && !desktop_->openFile(file))
        messages_.show(QStringLiteral("No program is set to open %1.").arg(file), kExclamation,
                       QString());
}

void frmMain::showAccountFileInFolder() {
    const QModelIndex current = levelsView_->currentIndex();
    if (!current.isValid())
        return;
    const QString file = accountFileOf(current.row());
    if (!file.isEmpty())
        desktop_->showInFolder(file);
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
    if (!on) {
        delete watcher_;
        watcher_ = nullptr;
        changeTimer_.stop();
        return;
    }
    watchAccountsFolder();
}

bool frmMain::refreshesWhenFilesChange() const {
    return refreshOnChange_->isChecked();
}

// Watches the accounts folder as the last scan found it, anew after each scan (the folder may
// have been replaced). Where the folder cannot be watched, nothing changes but that.
void frmMain::watchAccountsFolder() {
    if (!refreshesWhenFilesChange())
        return;
    delete watcher_;
    watcher_ = new QFileSystemWatcher(this);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &frmMain::accountsFolderChanged);
    if (lastReport_.listing && !lastReport_.listing->folder().isEmpty())
        watcher_->addPath(lastReport_.listing->folder());
}

void frmMain::accountsFolderChanged() {
    changeTimer_.start(kQuietAfterChangeMs); // each change puts the rescan off again
}

void frmMain::refreshForChanges() {
    if (!refreshesWhenFilesChange())
        return;
    if (scan_) {
        changedDuringScan_ = true; // looked at again once this scan is done
        return;
    }
    const qint64 since = lastScanStart_.isValid() ? lastScanStart_.elapsed() : kLeastBetweenScansMs;
    if (since < kLeastBetweenScansMs) {
        changeTimer_.start(static_cast<int>(kLeastBetweenScansMs - since));
        return;
    }
    quietScan_ = true; // no box for the files it leaves out: the summary names them
    Command1_Click();
}

bool frmMain::Form_Load() {
    if (!accountsFolderFound(programFolder_)) {
        QString where = whereNoAccountsFolderIs(programFolder_);
        where[0] = where[0].toUpper();
        messages_.showInformed(
            QStringLiteral("Accounts folder not found!"),
            QStringLiteral("%1.\n\nTo show a server's accounts, start Orvantis with the folder "
                           "that holds them:\n    orvantis /srv/game\nor give the program's "
                           "folder a link to them, named accounts:\n    ln -s "
                           "/srv/game/accounts %2/accounts")
                .arg(where, QFileInfo(programFolder_).absoluteFilePath()),
            kOkOnly, QString());
        return false;
    }
    GetScores();
    return true;
}

void frmMain::Command1_Click() {
    if (scan_)
        return; // the button is disabled while a scan runs
    GetScores();
}

void frmMain::GetScores() {
    if (scan_)
        return; // one scan at a time; its rows come when it ends
    command1_->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    scan_ = std::make_unique<BackgroundScan>(programFolder_, scanSettings_);
    scanClock_.start();
    lastScanStart_.start();
    scanTimer_.start();
}

bool frmMain::isScanning() const {
    return scan_ != nullptr;
}

bool frmMain::stopScan() {
    if (!scan_)
        return true;
    const bool ended = scan_->stop();
    scan_.reset();
    endBusy();
    return ended;
}

void frmMain::watchScan() {
    if (!scan_->finished()) {
        if (scanClock_.elapsed() >= kProgressAfterMs) {
            const size_t found = std::min<size_t>(scan_->filesFound(), INT_MAX);
            const size_t read = std::min<size_t>(scan_->filesRead(), INT_MAX);
            progress_->setRange(0, static_cast<int>(found));
            progress_->setValue(static_cast<int>(read));
            // Made here, not by the bar from "%v of %m", which would write the user's digits.
            progress_->setFormat(
                QStringLiteral("%1 of %2 account files read").arg(read).arg(found));
            summary_->hide();
            progress_->show();
        }
        return;
    }
    BackgroundScan::Outcome outcome = scan_->take();
    scan_.reset();
    endBusy();
    if (outcome.error) {
        try {
            std::rethrow_exception(outcome.error);
        } catch (const std::exception &error) {
            showSummary(scanFailedText(describeError(error)));
            throw; // to the error report, as any failed event
        }
    }
    // The records are complete and ranked: they replace the list's in one step, and the account
    // that was current is current again.
    const QString current = currentLogin();
    lastReport_ = std::move(outcome.report);
    model_->setAccounts(std::move(outcome.records), lastReport_.characters);
    makeCurrent(current);
    findBar_->rowsReplaced();
    watchAccountsFolder();
    if (std::exchange(changedDuringScan_, false))
        changeTimer_.start(kQuietAfterChangeMs);
    const QTime now = QTime::currentTime();
    const int accounts = model_->rowCount();
    showSummary(scanSummaryText(lastReport_, accounts, now),
                scanSummaryText(lastReport_, accounts, now, SummaryForm::Short));
    if (!std::exchange(quietScan_, false))
        reportSkipped(lastReport_);
    emit scanFinished();
}

void frmMain::showSummary(const QString &text, const QString &shortText) {
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
    reportSkipped(lastReport_);
}

} // namespace orvantis
