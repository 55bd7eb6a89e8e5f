#pragma once

#include "platform/messagebox.h"
#include "reportlist/reportlist.h"

#include <QLocale>
#include <QWidget>

class QLabel;
class QPushButton;
class QTreeView;

namespace orvantis {

class ReportListModel;

// The program's only window: a heading, the levels list and a Refresh button, in a fixed
// layout measured in twips (1/1440 inch).
class frmMain : public QWidget {
    Q_OBJECT

public:
    // The program folder is the one holding the accounts folder; every message goes through
    // `messages`; numbers and dates are shown in `locale`.
    frmMain(QString programFolder, MessageBox &messages, QLocale locale, QWidget *parent = nullptr);
    ~frmMain() override;

    // The start-up check and first scan, before the window is shown. Returns false when the
    // accounts folder is missing: the user has been told, and the window must not be shown.
    bool Form_Load();
    // Empties the list and scans the folder again.
    void Command1_Click();
    // Fills the empty list from the accounts folder and sorts it, highest level first.
    void GetScores();

    ReportList &lvLevels() { return lvLevels_; }
    QTreeView *levelsView() const { return levelsView_; }
    QLabel *Label1() const { return label1_; }
    QPushButton *Command1() const { return command1_; }

    // Twips to pixels on this window's screen.
    int pixels(int twips) const;

private:
    void layOut();
    void setLevelsVisible(bool visible);

    QString programFolder_;
    MessageBox &messages_;
    QLocale locale_;
    ReportList lvLevels_;
    ReportListModel *model_;
    QTreeView *levelsView_;
    QLabel *label1_;
    QPushButton *command1_;
    bool levelsHadFocus_ = false;
};

} // namespace orvantis
