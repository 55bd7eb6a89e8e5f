#pragma once

#include "platform/messagebox.h"
#include "reportlist/ranking.h"
#include "scan/scancontroller.h"
#include "window/accountsmodel.h"
#include "window/desktop.h"
#include "window/rowactions.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <memory>

class QAction;
class QKeyEvent;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeView;

namespace orvantis {

class FindBar;

// The program's only window: a heading, the levels list and a Refresh button, in a fixed
// layout measured in twips (1/1440 inch). Its scan controller runs the scans on a thread of
// their own, and follows the folder's changes when asked to; the window stays responsive
// meanwhile and takes the rows when they are complete.
class frmMain : public QWidget {
    Q_OBJECT

public:
    // The program folder is the one holding the accounts folder; every message goes through
    // `messages`; scans run with `scanSettings`, and the folder is watched with what `makeWatch`
    // makes (the system's watch when empty).
    frmMain(QString programFolder, MessageBox &messages, ScanSettings scanSettings = {},
            ScanController::WatchMaker makeWatch = {}, QWidget *parent = nullptr);
    ~frmMain() override;

    // The start-up check, before the window is shown, and the start of the first scan. Returns
    // false when the accounts folder is missing: the user has been told, and the window must not
    // be shown.
    bool Form_Load();
    // Scans the folder again; nothing while a scan runs. The rows shown stay until the new ones
    // replace them in one step; the account that was current is made current again.
    void Command1_Click();
    // Starts reading the accounts folder; its rows, sorted highest level first, replace the
    // list's when the scan ends (scanFinished). Refresh is disabled until then.
    void GetScores();

    bool isScanning() const;
    // The selected rows as tab-separated lines, in the order shown; what Copy puts on the
    // clipboard.
    QString selectedRowsText() const;
    // Stops a running scan without taking its rows (see BackgroundScan::stop): false when it
    // could not be stopped in time and is left to end on its own.
    bool stopScan();

    // The levels list: the ranked accounts the view shows.
    AccountsModel &lvLevels() { return *model_; }
    QTreeView *levelsView() const { return levelsView_; }
    QLabel *Label1() const { return label1_; }
    QPushButton *Command1() const { return command1_; }
    // The line left of Refresh that says what the last scan read.
    QLabel *scanSummary() const { return summary_; }
    // Shows the report of the files the last scan left out again, if it left any out.
    void showLeftOutFiles();
    FindBar *findBar() const { return findBar_; }

    // What the list's menu does with its rows.
    RowActions &rowActions() { return *rowActions_; }
    void setDesktop(Desktop &desktop) { rowActions_->setDesktop(desktop); }
    QString accountFileOf(int row) const { return rowActions_->accountFileOf(row); }
    bool saveRows(const QString &path, RankingFormat format, bool selectedOnly) {
        return rowActions_->saveRows(path, format, selectedOnly);
    }

    // Follows the accounts folder's changes, each shown within a second, while on; off at
    // every start unless the program is asked otherwise.
    void setRefreshWhenFilesChange(bool on);
    bool refreshesWhenFilesChange() const;
    ScanController &scanController() { return controller_; }

    // Twips to pixels on this window's screen.
    int pixels(int twips) const;

signals:
    // A scan has ended and its rows are in the list.
    void scanFinished();
    // Changed files have been applied to the list.
    void changesApplied();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void layOut();
    void keepOnScreen();
    void showSummary(const QString &text, const QString &shortText = QString());
    void showScanSummary();
    QString currentLogin() const;
    void makeCurrent(const QString &login);
    void startBusy();
    void watchScan();
    void scanEnded(const ScanEnd &end);
    void showRanking(const ScanEnd &end);
    void applyChanges(const std::vector<ChangedFile> &files);
    void keepViewWhileApplying(const std::vector<ChangedFile> &files);
    void endWithError(std::exception_ptr error) noexcept;
    void makeActions();
    void openFindBar();
    QAction *addListAction(const QString &text, const QKeySequence &keys,
                           void (RowActions::*slot)());
    void makeRowCurrent(int row);
    bool showCellToolTip(QEvent *event);
    bool summaryKeyPressed(const QKeyEvent *key);
    void openListMenu();
    void endBusy();
    void reportSkipped(const ScanReport &report);

    QString programFolder_;
    MessageBox &messages_;
    AccountsModel *model_;
    QTreeView *levelsView_;
    QLabel *label1_;
    QPushButton *command1_;
    QProgressBar *progress_;
    QLabel *summary_;
    FindBar *findBar_;
    RowActions *rowActions_;
    QAction *refreshOnChange_ = nullptr;
    bool placedOnScreen_ = false;
    QTime readAt_;        // when the rows shown were read whole
    QString summaryText_; // the line shown, in its whole form

    ScanController controller_;
    QTimer scanTimer_; // shows a long scan's progress
    QElapsedTimer scanClock_;
};

} // namespace orvantis
