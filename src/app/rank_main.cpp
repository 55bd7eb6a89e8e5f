// orvantis-rank: the ranking of the window, printed for scripts and machines without a display.
#include "console/progressline.h"
#include "platform/exitstatus.h"
#include "platform/failure.h"
#include "platform/visibletext.h"
#include "platform/writeall.h"
#include "scan/accountranking.h"
#include "scan/accountsfolder.h"
#include "scan/backgroundscan.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <climits>
#include <cstdio>
#include <cstring>
#include <unistd.h>

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
    "On a terminal, control characters in logins and names are shown escaped: \\xHH for C0\n"
    "characters and DEL, \\u00HH for C1 characters, and a backslash as \\\\. Piped or redirected,\n"
    "every format writes the cells' text as it is. Messages on standard error always escape\n"
    "them, and the bytes of a file name that are not UTF-8 as \\xHH, so that each is one line.\n"
    "\n"
    "Exit status:\n"
    "  0   the ranking was printed, made from every account file\n"
    "  1   FOLDER has no entry named exactly \"accounts\", or FOLDER does not exist\n"
    "  2   bad usage: an unknown option or format, a --top that is not a whole number above 0,\n"
    "      more than one FOLDER\n"
    "  3   FOLDER/accounts is not a folder (a plain file, or a link that leads nowhere); no\n"
    "      ranking is printed\n"
    "  4   FOLDER/accounts holds no account files; the empty ranking is printed\n"
    "  5   some account files were left out, as they could not be read or hold a level out of\n"
    "      range; the ranking of the others is printed, and each file left out is named on\n"
    "      standard error with the reason\n"
    "  70  the accounts folder could not be read, or the program ran short of memory, threads or\n"
    "      file descriptors (the reason is on standard error)\n"
    "  74  the ranking could not be written to standard output\n";

// One line on standard error, after the program's name; a message starts in lower case there.
// Names from the folder may hold anything: control characters are escaped.
void complain(const QString &message) {
    QString line = withControlsEscaped(message);
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

// Why the accounts entry gave no folder to list, for standard error.
QString whyNotAFolder(const ScanReport &report) {
    switch (report.accounts) {
    case FolderState::LinkToNowhere:
        return QStringLiteral("%1 is a link to %2, which leads nowhere")
            .arg(report.accountsPath, report.accountsLinkTarget);
    case FolderState::Missing:
        return QStringLiteral("%1 no longer exists").arg(report.accountsPath);
    case FolderState::NotAFolder:
    case FolderState::Listed:
        break;
    }
    return QStringLiteral("%1 is not a folder").arg(report.accountsPath);
}

int rank(const Request &request) {
    if (!accountsFolderFound(request.programFolder)) {
        std::fputs("Accounts folder not found!\n", stderr);
        complain(whereNoAccountsFolderIs(request.programFolder));
        return kExitNoAccountsFolder;
    }
    BackgroundScan scan(request.programFolder);
    ScanProgressLine progressLine(stderr);
    while (!scan.waitFor(std::chrono::milliseconds(100)))
        progressLine.show(scan.filesRead(), scan.filesFound());
    progressLine.erase();
    BackgroundScan::Outcome outcome = scan.take();
    if (outcome.error)
        std::rethrow_exception(outcome.error);
    const ScanReport &report = outcome.result.report;
    if (report.accounts != FolderState::Listed) {
        complain(whyNotAFolder(report));
        return kExitAccountsNotAFolder;
    }
    const CellText cellText =
        ::isatty(STDOUT_FILENO) == 1 ? CellText::ControlsEscaped : CellText::AsIs;
    const QByteArray text = rankingText(*outcome.result.records, outcome.result.characters.get(),
                                        request.format, request.top, cellText);
    // Straight to the descriptor, which waits where a parent left it non-blocking, as stdio
    // would not.
    const int writeError =
        writeAll(STDOUT_FILENO, text.constData(), static_cast<size_t>(text.size()));
    for (const SkippedFile &file : report.skipped)
        complain(QStringLiteral("skipped %1: %2").arg(file.name, file.reason));
    if (writeError != 0) {
        complain(QStringLiteral("cannot write the ranking: %1").arg(systemErrorText(writeError)));
        return kExitWriteError;
    }
    if (!report.skipped.empty()) {
        const size_t unreadable = report.unreadableFiles();
        complain(QStringLiteral("%1 of %2 account files %3: the ranking lacks their accounts")
                     .arg(report.skipped.size())
                     .arg(report.accountFiles)
                     .arg(unreadable == report.skipped.size() ? QStringLiteral("could not be read")
                                                              : QStringLiteral("were left out")));
        return kExitFilesLeftOut;
    }
    if (report.accountFiles == 0) {
        complain(QStringLiteral("no account files in %1").arg(report.accountsPath));
        return kExitNoAccountFiles;
    }
    return kExitSuccess;
}

} // namespace

int main(int argc, char *argv[]) {
    // Whatever ends the program early, short of memory or threads too, ends it with a line that
    // says why and a status of its own, never an abort.
    try {
        QCoreApplication app(argc, argv);
        Request request;
        if (const auto status = readCommandLine(QCoreApplication::arguments(), request))
            return *status;
        return rank(request);
    } catch (const std::exception &error) {
        complain(describeError(error));
        return kExitUnhandledError;
    }
}
