// orvantis-rank: the ranking of the window, printed for scripts and machines without a display.
#include "console/progressline.h"
#include "console/standardstreams.h"
#include "platform/exitstatus.h"
#include "platform/failure.h"
#include "platform/visibletext.h"
#include "platform/writeall.h"
#include "scan/accountranking.h"
#include "scan/accountsfolder.h"
#include "scan/backgroundscan.h"
#include "scan/liveranking.h"
#include "scan/scancontroller.h"
#include "stopsignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTimer>

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

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
    "  --output FILE    write the ranking to FILE instead of standard output: to a temporary\n"
    "                   file beside it, renamed into its place once whole and on the disk, and\n"
    "                   only when it was made from every account file; otherwise FILE is kept as\n"
    "                   it was and standard error says why\n"
    "  --watch          with --output: stay running, follow the folder's changes and write FILE\n"
    "                   again within a second of each, until SIGINT or SIGTERM ends the program\n"
    "                   (status 0)\n"
    "  -h, --help       show this help and exit\n"
    "  --version        show the version and exit\n"
    "\n"
    "On a terminal, control characters in logins and names are shown escaped: \\xHH for C0\n"
    "characters and DEL, \\u00HH for C1 characters, and a backslash as \\\\. Piped or redirected,\n"
    "every format writes the cells' text as it is. Messages on standard error always escape\n"
    "them, and the bytes of a file name that are not UTF-8 as \\xHH, so that each is one line.\n"
    "\n"
    "Exit status:\n"
    "  0   the ranking was printed (or written to FILE), made from every account file\n"
    "  1   FOLDER has no entry named exactly \"accounts\", or FOLDER does not exist\n"
    "  2   bad usage: an unknown option or format, a --top that is not a whole number above 0,\n"
    "      more than one FOLDER\n"
    "  3   FOLDER/accounts is not a folder (a plain file, or a link that leads nowhere); no\n"
    "      ranking is printed\n"
    "  4   FOLDER/accounts holds no account files; the empty ranking is printed (FILE is kept)\n"
    "  5   some account files were left out, as they could not be read or hold a level out of\n"
    "      range; the ranking of the others is printed, and each file left out is named on\n"
    "      standard error with the reason\n"
    "  70  the accounts folder could not be read, or the program ran short of memory, threads or\n"
    "      file descriptors, or (with --watch) the folder's changes could not be watched (the\n"
    "      reason is on standard error)\n"
    "  74  the ranking could not be written to standard output or FILE\n";

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
    int top = -1;   // every row
    QString output; // standard output when empty
    bool watch = false;
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
    const QCommandLineOption output(QStringLiteral("output"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption watch(QStringLiteral("watch"));
    parser.addOptions({help, version, format, top, output, watch});
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
    request.output = parser.value(output);
    request.watch = parser.isSet(watch);
    if (parser.isSet(output) && request.output.isEmpty()) {
        complain(QStringLiteral("--output takes a file name (see --help)"));
        return kExitUsage;
    }
    if (request.watch && request.output.isEmpty()) {
        complain(QStringLiteral("--watch needs --output FILE (see --help)"));
        return kExitUsage;
    }
    const QStringList folders = parser.positionalArguments();
    if (folders.size() > 1) {
        complain(QStringLiteral("one FOLDER at most (see --help)"));
        return kExitUsage;
    }
    // "D:\Game" as "D:/Game", the form Qt gives paths in, as the program folder is.
    request.programFolder = folders.isEmpty() ? QCoreApplication::applicationDirPath()
                                              : QDir::fromNativeSeparators(folders[0]);
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

// Where the ranking goes and what is said about it, once or after every change.
class Publisher {
public:
    explicit Publisher(const Request &request) : request_(request) {}

    // Prints the ranking, or writes it to the output file when it was made from every account
    // file; says on standard error what it left out or why the file was kept. Gives the status
    // a run that ended here would end with.
    int publish(const LiveRanking &ranking) {
        const ScanReport &report = ranking.report();
        QStringList lines;
        QString closing;
        int status = statusOf(report, lines, closing);
        if (status != kExitAccountsNotAFolder) {
            const bool toFile = !request_.output.isEmpty();
            if (!toFile || status == kExitSuccess) {
                const QString failure = write(ranking, toFile);
                if (!failure.isEmpty()) {
                    closing = failure;
                    status = kExitWriteError;
                }
            } else {
                closing += QStringLiteral("; %1 kept as it was").arg(request_.output);
            }
        }
        if (!closing.isEmpty())
            lines << closing;
        // Following changes, the same words are not said again and again.
        if (!request_.watch || lines != lastSaid_)
            for (const QString &line : lines)
                complain(line);
        lastSaid_ = lines;
        return status;
    }

private:
    // The status the report alone gives; each file left out a line, then what closes them.
    static int statusOf(const ScanReport &report, QStringList &lines, QString &closing) {
        if (report.accounts != FolderState::Listed) {
            closing = whyNotAFolder(report);
            return kExitAccountsNotAFolder;
        }
        for (const SkippedFile &file : report.skipped)
            lines << QStringLiteral("skipped %1: %2").arg(file.name, file.reason);
        if (!report.skipped.empty()) {
            const size_t unreadable = report.unreadableFiles();
            closing =
                QStringLiteral("%1 of %2 account files %3: the ranking lacks their accounts")
                    .arg(report.skipped.size())
                    .arg(report.accountFiles)
                    .arg(unreadable == report.skipped.size() ? QStringLiteral("could not be read")
                                                             : QStringLiteral("were left out"));
            return kExitFilesLeftOut;
        }
        if (report.accountFiles == 0) {
            closing = QStringLiteral("no account files in %1").arg(report.accountsPath);
            return kExitNoAccountFiles;
        }
        return kExitSuccess;
    }

    // Why the ranking could not be written, or the empty text.
    QString write(const LiveRanking &ranking, bool toFile) const {
        const CellText cellText =
            !toFile && ::isatty(STDOUT_FILENO) == 1 ? CellText::ControlsEscaped : CellText::AsIs;
        const QByteArray text = rankingText(ranking.records(), &ranking.characters(),
                                            request_.format, request_.top, cellText);
        if (toFile) {
            const QString failure = replaceFile(request_.output, text);
            return failure.isEmpty()
                       ? QString()
                       : QStringLiteral("cannot write %1: %2").arg(request_.output, failure);
        }
        // Straight to the descriptor, which waits where a parent left it non-blocking, as stdio
        // would not.
        const int error =
            writeAll(STDOUT_FILENO, text.constData(), static_cast<size_t>(text.size()));
        return error == 0
                   ? QString()
                   : QStringLiteral("cannot write the ranking: %1").arg(systemErrorText(error));
    }

    const Request &request_;
    QStringList lastSaid_;
};

int rankOnce(const Request &request) {
    BackgroundScan scan(request.programFolder);
    ScanProgressLine progressLine(stderr);
    while (!scan.waitFor(std::chrono::milliseconds(100)))
        progressLine.show(scan.filesRead(), scan.filesFound());
    progressLine.erase();
    BackgroundScan::Outcome outcome = scan.take();
    if (outcome.error)
        std::rethrow_exception(outcome.error);
    return Publisher(request).publish(LiveRanking(std::move(outcome.result)));
}

// Writes the output file, then again after every change, until stopped.
int rankAndFollow(const Request &request) {
    StopSignals stopSignals;
    ScanController controller(request.programFolder);
    Publisher publisher(request);
    std::shared_ptr<LiveRanking> ranking;
    ScanProgressLine progressLine(stderr);
    QTimer progress;
    QObject::connect(&progress, &QTimer::timeout, [&] {
        if (controller.isScanning())
            progressLine.show(controller.filesRead(), controller.filesFound());
    });
    progress.start(100);
    // What the event loop calls ends the program on an error, never letting it cross the loop.
    const auto guarded = [](auto &&work) {
        try {
            work();
        } catch (const std::exception &error) {
            complain(describeError(error));
            QCoreApplication::exit(kExitUnhandledError);
        }
    };
    QObject::connect(&controller, &ScanController::scanEnded, [&](const ScanEnd &end) {
        guarded([&] {
            progressLine.erase();
            if (end.error)
                std::rethrow_exception(end.error);
            ranking = end.ranking;
            publisher.publish(*ranking);
        });
    });
    QObject::connect(&controller, &ScanController::changesRead,
                     [&](const std::vector<ChangedFile> &files) {
                         guarded([&] {
                             if (!ranking)
                                 return; // changes are read once a scan has ended
                             RankingSteps unseen;
                             ranking->apply(files, unseen);
                             publisher.publish(*ranking);
                         });
                     });
    controller.setFollowing(true);               // watched before the first scan reads the folder
    if (!controller.followProblem().isEmpty()) { // no event loop yet to end
        complain(controller.followProblem());
        return kExitUnhandledError;
    }
    // A watch lost later, such as one the folder's replacement could not be given.
    QObject::connect(&controller, &ScanController::followingChanged, [&] {
        if (!controller.followProblem().isEmpty()) {
            complain(controller.followProblem());
            QCoreApplication::exit(kExitUnhandledError);
        }
    });
    controller.scan();
    const int status = QCoreApplication::exec();
    // A scan held by a read that does not return is not waited for.
    if (!controller.stopScan())
        std::_Exit(status);
    return status;
}

int rank(const Request &request) {
    if (!accountsFolderFound(request.programFolder)) {
        std::fputs("Accounts folder not found!\n", stderr);
        complain(whereNoAccountsFolderIs(request.programFolder));
        return kExitNoAccountsFolder;
    }
    return request.watch ? rankAndFollow(request) : rankOnce(request);
}

} // namespace

int main(int argc, char *argv[]) {
    // Whatever ends the program early, short of memory or threads too, ends it with a line that
    // says why and a status of its own, never an abort.
    try {
        prepareStandardStreams();
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
