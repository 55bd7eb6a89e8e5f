// orvantis: the window, on the accounts folder beside this program.
#include "window/errorreport.h"
#include "window/frmmain.h"
#include "window/widgetmessagebox.h"

#include <QIcon>
#include <QLocale>

#include <cstdlib>

int main(int argc, char *argv[]) {
    orvantis::WidgetMessageBox messages;
    orvantis::GuardedApplication app(argc, argv, messages);
    QApplication::setApplicationName(orvantis::kApplicationTitle);
    QIcon icon;
    for (int size : {16, 24, 32, 48})
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);

    orvantis::frmMain window(QCoreApplication::applicationDirPath(), messages, QLocale::system());
    messages.setParentWidget(&window);
    try {
        if (!window.Form_Load())
            return 0;
    } catch (const std::exception &error) {
        orvantis::reportUnhandledError(messages, error);
        return orvantis::kExitUnhandledError;
    }
    window.show();
    const int status = app.exec();
    // Closed during a scan: a scan held by a read that does not return is not waited for.
    if (!window.stopScan())
        std::_Exit(status);
    return status;
}
