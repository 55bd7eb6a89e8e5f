// orvantis-rank: the ranking of the window, printed for scripts and machines without a display.
#include "console/consolemessagebox.h"
#include "console/progressline.h"
#include "console/ranking.h"
#include "platform/deferredmessagebox.h"
#include "platform/exitstatus.h"
#include "platform/failure.h"
#include "scan/accountsfolder.h"
#include "scan/backgroundscan.h"
#include "scan/reportcolumns.h"

#include <QCoreApplication>
#include <QLocale>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

const char kUsage[] =
    "Usage: orvantis-rank [FOLDER]\n"
    "\n"
    "Ranks the accounts in FOLDER/accounts by the level of their best character and prints one\n"
    "line per account with a login, highest level first: login, level (empty for 0), character\n"
    "slot (1, 2, 3, or X when the top level is shared) and character name, separated by tabs.\n"
    "FOLDER defaults to the folder that holds this program. Nothing is written to the folder.\n"
    "\n"
    "Exit status:\n"
    "  0   the ranking was printed\n"
    "  1   FOLDER has no entry named exactly \"accounts\"\n"
    "  2   bad usage\n"
    "  70  the accounts folder could not be read (the reason is on standard error)\n"
    "  74  the ranking could not be written to standard output\n";

// One line on standard error, after the program's name; a message starts in lower case there.
void complain(const QString &message) {
    QString line = message;
    if (!line.isEmpty())
        line[0] = line[0].toLower();
    std::fprintf(stderr, "orvantis-rank: %s\n", line.toUtf8().constData());
}

int run(const QString &programFolder) {
    using namespace orvantis;
    if (!accountsFolderFound(programFolder)) {
        std::fputs("Accounts folder not found!\n", stderr);
        return kExitNoAccountsFolder;
    }
    BackgroundScan scan(programFolder, QLocale::system());
    ScanProgressLine progressLine(stderr);
    while (!scan.waitFor(std::chrono::milliseconds(100)))
        progressLine.show(scan.filesRead(), scan.filesFound());
    progressLine.erase();
    BackgroundScan::Outcome outcome = scan.take();
    ConsoleMessageBox messages;
    DeferredMessageBox::replay(outcome.messages, messages);
    try {
        if (outcome.error)
            std::rethrow_exception(outcome.error);
    } catch (const Failure &failure) {
        complain(failure.description());
        return kExitUnhandledError;
    }
    const ReportList &lvLevels = *outcome.rows;
    const ScanReport &report = outcome.report;
    const QByteArray text = rankingText(lvLevels);
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
    for (const SkippedFile &file : report.skipped)
        complain(QStringLiteral("skipped %1: %2").arg(file.name, file.reason));
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        complain(QStringLiteral("cannot write the ranking: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno))));
        return kExitWriteError;
    }
    return kExitSuccess;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args.size() > 1 || (args.size() == 1 && args[0].startsWith(u'-'))) {
        std::fputs(kUsage, stderr);
        return orvantis::kExitUsage;
    }
    return run(args.isEmpty() ? QCoreApplication::applicationDirPath() : args[0]);
}
