// Twenty Refreshes of a 10,000-account folder. Under the sanitizer build, LeakSanitizer checks at
// exit that nothing of them was lost; in any build, the rows stay the same.
#include "accountgenerator.h"
#include "recordingmessagebox.h"
#include "scanwaiting.h"
#include "tempfolder.h"
#include "window/frmmain.h"

#include <QApplication>

#include <gtest/gtest.h>

TEST(Refresh, TwentyTimesOnTenThousandAccountsKeepsTheSameRows) {
    TempFolder folder;
    ASSERT_TRUE(orvantis::bench::generateAccounts(folder.path(), 10000, 3));
    RecordingMessageBox messages;
    orvantis::frmMain window(folder.path(), messages);
    ASSERT_TRUE(loadAndWait(window));
    window.show();
    const int rows = window.lvLevels().rowCount();
    EXPECT_GT(rows, 9000);
    for (int refresh = 0; refresh < 20; ++refresh) {
        ASSERT_TRUE(refreshAndWait(window));
        QCoreApplication::processEvents();
        ASSERT_EQ(window.lvLevels().rowCount(), rows);
    }
    EXPECT_TRUE(messages.shown.empty());
}
