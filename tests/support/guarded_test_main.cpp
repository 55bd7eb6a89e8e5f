// The main of the window's tests: a GuardedApplication, as the program has, whose error reports
// a test finds in the "messages" property; Qt's offscreen platform unless told otherwise.
#include "recordingmessagebox.h"
#include "window/errorreport.h"

#include <gtest/gtest.h>

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    RecordingMessageBox messages;
    orvantis::GuardedApplication app(argc, argv, messages);
    app.setProperty("messages", QVariant::fromValue(static_cast<void *>(&messages)));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
