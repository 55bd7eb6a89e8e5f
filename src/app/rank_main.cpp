// orvantis-rank: the ranking of the window, printed for scripts and machines without a display.
#include "console/consolemessagebox.h"
#include "console/progressline.h"
#include "console/ranking.h"
#include "platform/deferredmessagebox.h"
#include "platform/exitstatus.h"
#include "platform/failure.h"
#include "scan/accountsfolder.h"
#include "scan/backgroundscan.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLocale>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace {

using namespace orvantis;

const char kUsage[] =
    "Usage: orvantis-rank [OPTION]... [FOLDER]\n"
    "Rank game server accounts by the level of their best character.\n"
    "\n"
    "Reads every account file in FOLDER/accounts and prints one row per account with a login,\n"
    "highest level first: login, level (empty for 0), character slot (1, 2, 3, or X when the top\n"
    "level is shared) and character name. FOLDER defaults to the folder that holds this program.\n"
    "Nothing is written to the folder.\n"
    "\n"
    "Options:\n"
    "  --format FORMAT  tsv (the default): one line per row, the cells separated by tabs;\n"
    "                   csv: RFC 4180, with a header line of the column titles;\n"
    "                   json: an array of objects {\"login\", \"level\", \"slot\", \"name\"}\n"
    "  --top N          only the first N rows (N at least 1)\n"
    "  -h, --help       show this help and exit\n"
    "  --version        show the version and exit\n"
    "\n"
    "Exit status:\n"
    "  0   the ranking was printed\n"
    "  1   FOLDER has no entry named exactly \"accounts\"\n"
    "  2   bad usage: an unknown option or format, a --top that is not a whole number above 0,\n"
    "      more than one FOLDER\n"
    "  70  the accounts folder could not be read (the reason is on standard error)\n"
    "  74  the ranking could not be written to standard output\n";

// One line on standard error, after the program's name; a message starts in lower case there.
void complain(const QString &message) {
    QString line = message;
    if (!line.isEmpty())
        line[0] = line[0].toLower();
    std::fprintf(stderr, "orvantis-rank: %s\n", line.toUtf8().constData());
}

// What the command line asks for.
struct Request {
    QString programFolder;
    RankingFormat format = RankingFormat::Tsv;
    int top = -1; // every row
};

// Reads the command line into `request`; on bad usage says why and gives kExitUsage, after
// --help or --version gives kExitSuccess, else nothing.
std::optional<int> readCommandLine(const QStringList &arguments, Request &request) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption format(QStringLiteral("format"), QString(), QStringLiteral("FORMAT"));
    const QCommandLineOption top(QStringLiteral("top"), QString(), QStringLiteral("N"));
    parser.addOptions({help, version, format, top});
    if (!parser.parse(arguments)) {
        complain(parser.errorText() + QStringLiteral(" (see --help)"));
        return kExitUsage;
    }
    if (parser.isSet(help)) {
        std::fputs(kUsage, stdout);
        return kExitSuccess;
    }
    if (parser.isSet(version)) {
        std::printf("orvantis-rank %s\n", ORVANTIS_VERSION);
        return kExitSuccess;
    }
    if (parser.isSet(format)) {
        const auto named = rankingFormatNamed(parser.value(format));
        if (!named) {
            complain(QStringLiteral("unknown format \"%1\": tsv, csv or json (see --help)")
                         .arg(parser.value(format)));
            return kExitUsage;
        }
        request.format = *named;
    }
    if (parser.isSet(top)) {
        bool number = false;
        const qlonglong n = parser.value(top).toLongLong(&number);
        if (!number || n < 1) {
            complain(QStringLiteral("--top takes a whole number above 0, not \"%1\"")
                         .arg(parser.value(top)));
            return kExitUsage;
        }
        request.top = static_cast<int>(std::min<qlonglong>(n, INT_MAX));
    }
    const QStringList folders = parser.positionalArguments();
    if (folders.size() > 1) {
        complain(QStringLiteral("one FOLDER at most (see --help)"));
        return kExitUsage;
    }
    request.programFolder = folders.isEmpty() ? QCoreApplication::applicationDirPath() : folders[0];
    return std::nullopt;
}

int rank(const Request &request) {
    if (!accountsFolderFound(request.programFolder)) {
        std::fputs("Accounts folder not found!\n", stderr);
        return kExitNoAccountsFolder;
    }
    BackgroundScan scan(request.programFolder, QLocale::system());
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
    // The rows are left for the system to take back when the program ends: freeing a million
    // texts one by one would only make it slower to end. (Still reachable, so no leak to the
    // sanitizers either.)
    static const ReportList *const rows = outcome.rows.release();
    const QByteArray text = rankingText(*rows, request.format, request.top);
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
    for (const SkippedFile &file : outcome.report.skipped)
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
    Request request;
    if (const auto status = readCommandLine(QCoreApplication::arguments(), request))
        return *status;
    return rank(request);
}
