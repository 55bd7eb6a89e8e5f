#pragma once

// The window on a temporary program folder, as the window's tests use it.
#include "accountfiles.h"
#include "formats/accountranking.h"
#include "gatedreader.h"
#include "golden.h"
#include "privileges.h"
#include "qtprinters.h"
#include "recordingdesktop.h"
#include "recordingmessagebox.h"
#include "scan/accounts/accountcells.h"
#include "scan/live/folderfollower.h"
#include "scan/reading/inifiles.h"
#include "scanwaiting.h"
#include "tempfolder.h"
#include "window/errorreport.h"
#include "window/findbar.h"
#include "window/frmmain.h"
#include "window/scansummary.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QToolTip>
#include <QTreeView>

#include <gtest/gtest.h>

#include <memory>

#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

// Handles events until `done` holds, for at most five seconds; whether it holds.
template <typename Condition> inline bool eventually(Condition done, int withinMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < withinMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// A window on a temporary program folder of its own, made when first asked for.
class WindowTest : public ::testing::Test {
protected:
    // A window on the temporary program folder, loaded as at start-up.
    orvantis::frmMain &window() {
        if (!window_)
            window_ = std::make_unique<orvantis::frmMain>(folder.path(), messages);
        return *window_;
    }
    // The rows as the view shows them: login and level.
    QStringList shownRows() {
        QCoreApplication::processEvents();
        QAbstractItemModel *model = window().levelsView()->model();
        QStringList rows;
        for (int row = 0; row < model->rowCount(); ++row)
            rows << model->index(row, 0).data().toString() + u'|' +
                        model->index(row, 1).data().toString();
        return rows;
    }

    // The list's context-menu action of that name.
    static QAction *listAction(orvantis::frmMain &w, const QString &text) {
        for (QAction *action : w.levelsView()->actions())
            if (action->text() == text)
                return action;
        return nullptr;
    }

    // Accounts user0, user1, … at levels 1, 2, …
    void writeAccounts(int count) {
        for (int i = 0; i < count; ++i)
            folder.write(QStringLiteral("accounts/%1.ini").arg(i),
                         accountFile("user" + QByteArray::number(i), i + 1));
    }
    // Shown and active, as a user has it.
    static bool showActive(orvantis::frmMain &w) {
        w.show();
        QApplication::setActiveWindow(&w);
        return QTest::qWaitForWindowActive(&w);
    }

    TempFolder folder;
    RecordingMessageBox messages;
    std::unique_ptr<orvantis::frmMain> window_;
};
