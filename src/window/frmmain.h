#pragma once

#include "platform/messagebox.h"
#include "reportlist/ranking.h"
#include "scan/backgroundscan.h"
#include "window/accountsmodel.h"
#include "window/desktop.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <memory>

class QAction;
class QFileSystemWatcher;
class QKeyEvent;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeView;

namespace orvantis {

class FindBar;

// The program's only window: a heading, the levels list and a Refresh button, in a fixed
// layout measured in twips (1/1440 inch). Scans run on a thread of their own; the window stays
// responsive meanwhile and takes the rows when they are complete.
class frmMain : public QWidget {
    Q_OBJECT

public:
    // The program folder is the one holding the accounts folder; every message goes through
    // `messages`; scans run with `scanSettings`.
    frmMain(QString programFolder, MessageBox &messages, ScanSettings scanSettings = {},
            QWidget *parent = nullptr);
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

    // Where dialogs for saving, and opening or showing files, go: the system's unless a test
    // hands in its own.
    void setDesktop(Desktop &desktop) { desktop_ = &desktop; }
    // The account file that a row was read from.
    QString accountFileOf(int row) const;
    // Writes the list's rows (all, or the selected ones) to `path` in `format`, by way of a
    // temporary file put in its place only once complete; says so in a message and gives false
    // when that fails.
    bool saveRows(const QString &path, RankingFormat format, bool selectedOnly);

    // Rescans a little after the accounts folder last changed, while on; off at every start.
    void setRefreshWhenFilesChange(bool on);
    bool refreshesWhenFilesChange() const;
    static constexpr int kQuietAfterChangeMs = 1000;  // rescan once changes have paused this long
    static constexpr int kLeastBetweenScansMs = 5000; // and never more often than this

    // Twips to pixels on this window's screen.
    int pixels(int twips) const;

signals:
    // A scan has ended and its rows are in the list.
    void scanFinished();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void layOut();
    void keepOnScreen();
    void showSummary(const QString &text, const QString &shortText = QString());
    QString currentLogin() const;
    void makeCurrent(const QString &login);
    void watchScan();
    void makeActions();
    void openFindBar();
    QAction *addListAction(const QString &text, const QKeySequence &keys, void (frmMain::*slot)());
    std::vector<int> selectedRowNumbers() const;
    QStringList cellsOf(int row) const;
    void copySelectedRows();
    void copySelectedRowsWithTitles();
    void saveAllAs();
    void saveSelectedAs();
    void saveAs(bool selectedOnly);
    void openAccountFile();
    void showAccountFileInFolder();
    void makeRowCurrent(int row);
    bool showCellToolTip(QEvent *event);
    bool summaryKeyPressed(const QKeyEvent *key);
    void openListMenu();
    void watchAccountsFolder();
    void accountsFolderChanged();
    void refreshForChanges();
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
    SystemDesktop systemDesktop_;
    Desktop *desktop_ = &systemDesktop_;
    QAction *refreshOnChange_ = nullptr;
    QFileSystemWatcher *watcher_ = nullptr; // while refreshing on changes
    QTimer changeTimer_;
    QElapsedTimer lastScanStart_;
    bool changedDuringScan_ = false;
    bool quietScan_ = false; // started for changes in the folder, not by the user
    bool placedOnScreen_ = false;
    ScanReport lastReport_;

    ScanSettings scanSettings_;
    std::unique_ptr<BackgroundScan> scan_; // the running scan, if any
    QTimer scanTimer_;
    QElapsedTimer scanClock_;
};

} // namespace orvantis
