// orvantis: the window, on the accounts folder beside this program or the one it is given.
#include "console/commandline.h"
#include "console/standardstreams.h"
#include "platform/exitstatus.h"
#include "window/errorreport.h"
#include "window/frmmain.h"
#include "window/widgetmessagebox.h"

#include <QCommandLineParser>
#include <QDir>
#include <QIcon>
#include <QLocale>

#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

const char kUsage[] =
    "Usage: orvantis [OPTION]... [FOLDER]\n"
    "Show game server accounts ranked by the level of their best character, in a window.\n"
    "\n"
    "Reads every account file in FOLDER/accounts and shows one row per account with a login,\n"
    "highest level first; \"Refresh\" reads the folder again. FOLDER defaults to the folder that\n"
    "holds this program, where it really is: a link to the program elsewhere (such as\n"
    "/usr/bin/orvantis) does not change it. Nothing is written to the folder.\n"
    "\n"
    "Options:\n"
    "  --watch        follow the folder's changes from the start, each shown within a second\n"
    "                 (\"Refresh When Files Change\" in the list's menu, off at a plain start)\n"
    "  -h, --help     show this help and exit\n"
    "  --version      show the version and exit\n"
    "\n"
    "Exit status:\n"
    "  0   the window was closed\n"
    "  1   FOLDER has no entry named exactly \"accounts\", or FOLDER does not exist (the\n"
    "      message \"Accounts folder not found!\" was shown)\n"
    "  2   bad usage: an unknown option, or more than one FOLDER\n"
    "  70  an error the program could not recover from was reported, such as an accounts\n"
    "      folder that could no longer be read, or too little memory or too few file\n"
    "      descriptors to read it\n";

// Reads the command line before any window exists, so that --help, --version and bad usage
// need no display. Sets `folder` to the one given, if any; gives a status to end with, or
// nothing to go on.
std::optional<int> readCommandLine(int argc, char *argv[], QString &folder, bool &watch) {
    const QStringList arguments = orvantis::commandLineArguments(argc, argv);
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption watchOption(QStringLiteral("watch"));
    parser.addOptions({help, version, watchOption});
    const auto usageError = [](const QString &message) {
        std::fprintf(stderr, "orvantis: %s (see --help)\n", message.toLocal8Bit().constData());
        return orvantis::kExitUsage;
    };
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        std::fputs(kUsage, stdout);
        return orvantis::kExitSuccess;
    }
    if (parser.isSet(version)) {
        std::printf("orvantis %s\n", ORVANTIS_VERSION);
        return orvantis::kExitSuccess;
    }
    watch = parser.isSet(watchOption);
    const QStringList folders = parser.positionalArguments();
    if (folders.size() > 1)
        return usageError(QStringLiteral("one FOLDER at most"));
    if (!folders.isEmpty())
        folder = QDir::fromNativeSeparators(folders[0]); // "D:\Game" as "D:/Game", as Qt has paths
    return std::nullopt;
}

} // namespace

int main(int argc, char *argv[]) {
    orvantis::useStartingConsole();
    orvantis::prepareStandardStreams();
    QString folder;
    bool watch = false;
    if (const auto status = readCommandLine(argc, argv, folder, watch))
        return *status;
    orvantis::WidgetMessageBox messages;
    orvantis::GuardedApplication app(argc, argv, messages);
    QApplication::setApplicationName(orvantis::kApplicationTitle);
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
    if (folder.isEmpty())
        folder = QCoreApplication::applicationDirPath();

    orvantis::frmMain window(folder, messages);
    messages.setParentWidget(&window);
    if (watch)
        window.setRefreshWhenFilesChange(true); // watched before the first scan reads the folder
    try {
        if (!window.Form_Load())
            return window.startStatus();
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
