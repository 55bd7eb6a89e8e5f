#include "window/windowstart.h"

#include "platform/messagebox.h"
#include "start/programoptions.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>

namespace orvantis {

namespace {

// Bad usage is said as Qt's parser words it, as the window always has.
void sayAsIs(const char *program, const QString &message) {
    std::fprintf(stderr, "%s: %s\n", program, message.toLocal8Bit().constData());
}

} // namespace

const char kWindowProgram[] = "orvantis";

const char kWindowUsage[] =
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

std::optional<int> readWindowCommandLine(const QStringList &arguments, WindowRequest &request) {
    ProgramOptions options(kWindowProgram, kWindowUsage, sayAsIs);
    const QCommandLineOption watch(QStringLiteral("watch"));
    options.add(watch);
    if (const auto status = options.read(arguments))
        return status;
    request.watch = options.parser().isSet(watch);
    request.programFolder = options.folder(QString());
    return std::nullopt;
}

void setApplicationLook() {
    QApplication::setApplicationName(kApplicationTitle);
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
}

} // namespace orvantis
