// orvantis: the window, on the accounts folder beside this program or the one it is given.
#include "platform/exitstatus.h"
#include "start/commandline.h"
#include "start/programend.h"
#include "start/standardstreams.h"
#include "window/errorreport.h"
#include "window/frmmain.h"
#include "window/widgetmessagebox.h"
#include "window/windowstart.h"

#include <exception>

using namespace orvantis;

int main(int argc, char *argv[]) {
    useStartingConsole();
    prepareStandardStreams();
    WindowRequest request;
    if (const auto status = readWindowCommandLine(commandLineArguments(argc, argv), request))
        return *status;
    WidgetMessageBox messages;
    GuardedApplication app(argc, argv, messages);
    setApplicationLook();
    if (request.programFolder.isEmpty())
        request.programFolder = QCoreApplication::applicationDirPath();

    frmMain window(request.programFolder, messages);
    messages.setParentWidget(&window);
    if (request.watch)
        window.setRefreshWhenFilesChange(true); // watched before the first scan reads the folder
    try {
        if (!window.Form_Load())
            return window.startStatus();
    } catch (const std::exception &error) {
        reportUnhandledError(messages, error);
        return kExitUnhandledError;
    }
    window.show();
    // Closed during a scan: a scan held by a read that does not return is not waited for.
    return runEventLoop([&] { return window.stopScan(); });
}
