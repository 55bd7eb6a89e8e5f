#include "window/frmmain.h"

#include "scan/accountsfolder.h"
#include "scan/getscores.h"
#include "scan/reportcolumns.h"
#include "window/reportlistmodel.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>

#include <algorithm>

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
constexpr int kColumnWidth = 1440;

// The busy cursor for as long as a scan runs.
class BusyCursor {
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
};

} // namespace

frmMain::frmMain(QString programFolder, MessageBox &messages, QLocale locale, QWidget *parent)
    : QWidget(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      programFolder_(std::move(programFolder)), messages_(messages), locale_(std::move(locale)),
      lvLevels_(reportColumnTitles()), model_(new ReportListModel(lvLevels_, this)),
      levelsView_(new QTreeView(this)),
      label1_(new QLabel(QStringLiteral("Levels (Highest first):"), this)),
      command1_(new QPushButton(QStringLiteral("Refresh"), this)) {
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
    levelsView_->setSelectionMode(QAbstractItemView::SingleSelection);
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

    label1_->setObjectName(QStringLiteral("Label1"));
    label1_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label1_->setFocusPolicy(Qt::NoFocus);

    command1_->setObjectName(QStringLiteral("Command1"));
    command1_->setAutoDefault(false);
    command1_->setDefault(false);
    command1_->setAccessibleName(QStringLiteral("Refresh"));
    command1_->setAccessibleDescription(QStringLiteral("Reads the accounts folder again"));
    connect(command1_, &QPushButton::clicked, this, &frmMain::Command1_Click);

    setTabOrder(levelsView_, command1_);
    layOut();
}

frmMain::~frmMain() = default;

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

bool frmMain::Form_Load() {
    if (!accountsFolderFound(programFolder_)) {
        messages_.show(QStringLiteral("Accounts folder not found!"), kOkOnly, QString());
        return false;
    }
    GetScores();
    return true;
}

void frmMain::Command1_Click() {
    lvLevels_.listItems().Clear();
    model_->flush(); // the view lets go of the old rows too
    GetScores();
}

void frmMain::GetScores() {
    const BusyCursor busy;
    const ScanReport report = orvantis::GetScores(programFolder_, lvLevels_, {messages_, locale_});
    model_->flush();
    if (report.skipped.empty())
        return;
    // Tell once, after the scan, which files were left out and why.
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
