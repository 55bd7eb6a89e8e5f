#pragma once

#include "formats/rankingtext.h"
#include "platform/messagebox.h"
#include "scan/live/folderfollower.h"
#include "window/accountsmodel.h"
#include "window/desktop.h"
#include "window/rowactions.h"
#include "window/viewkeeper.h"

#include <QElapsedTimer>
#include <QTime>
#include <QTimer>
#include <QWidget>

class QAction;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeView;

namespace orvantis {

class FindBar;
class SummaryLine;

// The program's only window: a heading, the levels list and a Refresh button, in a fixed
// layout measured in twips (1/1440 inch). Its folder follower reads the folder on a thread of
// its own, and follows its changes when asked to; the window stays responsive meanwhile and
// shows the follower's ranking when it is complete.
class frmMain : public QWidget {
    Q_OBJECT

public:
    // The program folder is the one holding the accounts folder; every message goes through
    // `messages`; the folder is read with `scanSettings`, and watched with what `makeWatch`
    // makes (the system's watch when empty).
    frmMain(QString programFolder, MessageBox &messages, ScanSettings scanSettings = {},
            FolderFollower::WatchMaker makeWatch = {}, QWidget *parent = nullptr);
    ~frmMain() override;

    // The start-up check, before the window is shown, and the start of the first scan. Returns
    // false when the window must not be shown: the accounts folder is missing, or the program
    // folder could not be read. The user has been told, and startStatus() is how the program
    // ends.
    bool Form_Load();
    int startStatus() const { return startStatus_; }
    // Scans the folder again; nothing while a scan runs. The rows shown stay until the new ones
    // replace them in one step; the account that was current is made current again.
    void Command1_Click();
    // Starts reading the accounts folder; its rows, sorted highest level first, replace the
    // list's when the scan ends (scanFinished). Refresh is disabled until then.
    void GetScores();

    bool isScanning() const { return follower_.isReading(); }
    // Stops a running scan without taking its rows (see BackgroundScan::stop): false when it
    // could not be stopped in time and is left to end on its own.
    bool stopScan();

    // The levels list: the ranked accounts the view shows.
    AccountsModel &lvLevels() { return *model_; }
    QTreeView *levelsView() const { return levelsView_; }
    QLabel *Label1() const { return label1_; }
    QPushButton *Command1() const { return command1_; }
    // The line left of Refresh that says what the last scan read.
    QLabel *scanSummary() const;
    // Shows the report of the files the last scan left out again, if it left any out.
    void showLeftOutFiles();
    FindBar *findBar() const { return findBar_; }

    // What the list's menu does with its rows.
    void setDesktop(Desktop &desktop) { rowActions_->setDesktop(desktop); }
    QString accountFileOf(int row) const { return rowActions_->accountFileOf(row); }
    bool saveRows(const QString &path, RankingFormat format, bool selectedOnly) {
        return rowActions_->saveRows(path, format, selectedOnly);
    }

    // Follows the accounts folder's changes, each shown within a second, while on; off at
    // every start unless the program is asked otherwise.
    void setRefreshWhenFilesChange(bool on);
    bool refreshesWhenFilesChange() const;
    FolderFollower &follower() { return follower_; }

    // Twips to pixels on this window's screen.
    int pixels(int twips) const;

signals:
    // A scan has ended and its rows are in the list (or it failed, and that was reported).
    void scanFinished();
    // Changed files have been applied to the list.
    void changesApplied();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void layOut();
    void keepOnScreen();
    void setUpList();
    void setUpControls();
    void wireFollower();
    void addKeys();
    void openFindBar();
    void startBusy();
    void watchScan();
    void endBusy();
    void showRanking(bool asked);
    void showChanges(bool reset);
    void endWithError(const ScanFailure &failure);
    void showScanSummary();
    void reportSkipped(const ScanReport &report);

    QString programFolder_;
    MessageBox &messages_;
    AccountsModel *model_;
    QTreeView *levelsView_;
    QLabel *label1_;
    QPushButton *command1_;
    QProgressBar *progress_;
    SummaryLine *summary_;
    FindBar *findBar_;
    RowActions *rowActions_;
    QAction *refreshOnChange_;
    ViewKeeper viewKeeper_;
    bool placedOnScreen_ = false;
    QTime readAt_; // when the rows shown were read whole
    int startStatus_ = 0;

    FolderFollower follower_;
    QTimer scanTimer_; // shows a long scan's progress
    QElapsedTimer scanClock_;
};

} // namespace orvantis
