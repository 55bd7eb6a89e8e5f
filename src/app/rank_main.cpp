// orvantis-rank: the ranking of the window, printed for scripts and machines without a display.
#include "console/consolemessagebox.h"
#include "console/ranking.h"
#include "scan/accountsfolder.h"
#include "scan/getscores.h"
#include "scan/reportcolumns.h"

#include <QCoreApplication>
#include <QLocale>

#include <cstdio>

namespace {

const char kUsage[] =
    "Usage: orvantis-rank [FOLDER]\n"
    "\n"
    "Ranks the accounts in FOLDER/accounts by the level of their best character and prints one\n"
    "line per account with a login, highest level first: login, level (empty for 0), character\n"
    "slot (1, 2, 3, or X when the top level is shared) and character name, separated by tabs.\n"
    "FOLDER defaults to the folder that holds this program. Nothing is written to the folder.\n"
    "\n"
    "Exit status: 0 on success, 1 when FOLDER has no entry named \"accounts\", 2 on bad usage.\n";

int run(const QString &programFolder) {
    using namespace orvantis;
    if (!accountsFolderFound(programFolder)) {
        std::fputs("Accounts folder not found!\n", stderr);
        return 1;
    }
    ConsoleMessageBox messages;
    ReportList lvLevels(reportColumnTitles());
    const ScanReport report = GetScores(programFolder, lvLevels, {messages, QLocale::system()});
    const QByteArray text = rankingText(lvLevels);
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
    for (const SkippedFile &file : report.skipped)
        std::fprintf(stderr, "orvantis-rank: skipped %s: %s\n", file.name.toUtf8().constData(),
                     file.reason.toUtf8().constData());
    return std::fflush(stdout) == 0 ? 0 : 1;
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
        return 2;
    }
    return run(args.isEmpty() ? QCoreApplication::applicationDirPath() : args[0]);
}
