#include "window/frmmain.h"

#include "platform/deferredmessagebox.h"
#include "reportlist/rowtext.h"
#include "scan/accountsfolder.h"
#include "scan/reportcolumns.h"
#include "window/reportlistmodel.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>

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

} // namespace

frmMain::frmMain(QString programFolder, MessageBox &messages, QLocale locale,
                 ScanSettings scanSettings, QWidget *parent)
    : QWidget(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      programFolder_(std::move(programFolder)), messages_(messages), locale_(std::move(locale)),
      lvLevels_(reportColumnTitles()), model_(new ReportListModel(lvLevels_, this)),
      levelsView_(new QTreeView(this)),
      label1_(new QLabel(QStringLiteral("Levels (Highest first):"), this)),
      command1_(new QPushButton(QStringLiteral("Refresh"), this)),
      progress_(new QProgressBar(this)), scanSettings_(std::move(scanSettings)) {
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
    connect(model_, &ReportListModel::visibleChanged, this, &frmMain::setLevelsVisible);
    // Copy, from the keyboard or the list's context menu: the selected rows as tab-separated
    // lines, which a spreadsheet pastes as cells.
    auto *copy = new QAction(QStringLiteral("Copy"), levelsView_);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    connect(copy, &QAction::triggered, this, &frmMain::copySelectedRows);
    levelsView_->addAction(copy);
    levelsView_->setContextMenuPolicy(Qt::ActionsContextMenu);

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
    progress_->setFormat(QStringLiteral("%v of %m account files read"));
    progress_->setAccessibleName(QStringLiteral("Scan progress"));
    progress_->setFocusPolicy(Qt::NoFocus);
    progress_->hide();

    scanTimer_.setInterval(kScanPollMs);
    connect(&scanTimer_, &QTimer::timeout, this, &frmMain::watchScan);

    setTabOrder(levelsView_, command1_);
    layOut();
}

frmMain::~frmMain() {
    stopScan();
    // The view and its model read lvLevels_, which as a member goes before QWidget deletes the
    // children: they go first.
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
    // The heading keeps its place; where the default font is wider than the design's, it grows
    // to show its whole text rather than cut it.
    label1_->resize(std::max(label1_->width(), label1_->sizeHint().width()), label1_->height());
    for (int column = 0; column < lvLevels_.columnCount(); ++column)
        levelsView_->header()->resizeSection(column, pixels(kColumnWidth));
    setFixedSize(pixels(kClientWidth), pixels(kClientHeight));
    move(0, 0); // the frame is placed so that the client area lands where it should
    setGeometry(pixels(kClientLeft), pixels(kClientTop), pixels(kClientWidth),
                pixels(kClientHeight));
    levelsView_->setFocus();
}

// The sort hides the list while it rewrites cells. Qt moves the focus off a hidden widget, so
// the list takes it back when it is shown again, if it had it.
void frmMain::setLevelsVisible(bool visible) {
    if (!visible)
        levelsHadFocus_ = levelsView_->hasFocus() || focusWidget() == levelsView_;
    levelsView_->setVisible(visible);
    if (visible && levelsHadFocus_)
        levelsView_->setFocus();
}

QString frmMain::selectedRowsText() const {
    QList<int> rows;
    for (const QModelIndex &index : levelsView_->selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end()); // in the order shown, whatever the order of selecting
    QString text;
    for (int row : rows)
        text += tabSeparatedRow(lvLevels_, row) + u'\n';
    return text;
}

void frmMain::copySelectedRows() {
    const QString text = selectedRowsText();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

bool frmMain::Form_Load() {
    if (!accountsFolderFound(programFolder_)) {
        messages_.show(QStringLiteral("Accounts folder not found!"), kOkOnly, QString());
        return false;
    }
    GetScores();
    return true;
}

void frmMain::Command1_Click() {
    if (scan_)
        return; // the button is disabled while a scan runs
    lvLevels_.listItems().Clear();
    model_->flush(); // the view lets go of the old rows too
    GetScores();
}

void frmMain::GetScores() {
    if (scan_)
        return; // one scan at a time; its rows come when it ends
    command1_->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    scan_ = std::make_unique<BackgroundScan>(programFolder_, locale_, scanSettings_);
    scanClock_.start();
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
            progress_->setRange(0,
                                static_cast<int>(std::min<size_t>(scan_->filesFound(), INT_MAX)));
            progress_->setValue(static_cast<int>(std::min<size_t>(scan_->filesRead(), INT_MAX)));
            progress_->show();
        }
        return;
    }
    BackgroundScan::Outcome outcome = scan_->take();
    scan_.reset();
    endBusy();
    DeferredMessageBox::replay(outcome.messages, messages_);
    if (outcome.error)
        std::rethrow_exception(outcome.error); // to the error report, as any failed event
    // The rows are complete and sorted: the list takes them in one step.
    lvLevels_.takeRowsFrom(*outcome.rows);
    model_->flush();
    reportSkipped(outcome.report);
    emit scanFinished();
}

void frmMain::endBusy() {
    scanTimer_.stop();
    progress_->hide();
    command1_->setEnabled(true);
    QApplication::restoreOverrideCursor();
}

// Tells once, after the scan, which files were left out and why.
void frmMain::reportSkipped(const ScanReport &report) {
    if (report.skipped.empty())
        return;
    constexpr size_t kNamesShown = 20;
    QString text =
        report.skipped.size() == 1
            ? QStringLiteral("1 account file was skipped:\n")
            : QStringLiteral("%1 account files were skipped:\n").arg(report.skipped.size());
    for (size_t i = 0; i < report.skipped.size() && i < kNamesShown; ++i)
        text += QStringLiteral("\n%1: %2").arg(report.skipped[i].name, report.skipped[i].reason);
    if (report.skipped.size() > kNamesShown)
        text += QStringLiteral("\n… and %1 more.").arg(report.skipped.size() - kNamesShown);
    messages_.show(text, kOkOnly, QString());
}

} // namespace orvantis
