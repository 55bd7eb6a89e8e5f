#include "console/rankcommandline.h"

#include "platform/exitstatus.h"
#include "start/complaint.h"
#include "start/programoptions.h"

#include <algorithm>
#include <climits>

namespace orvantis {

const char kRankProgram[] = "orvantis-rank";

const char kRankUsage[] =
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
    "                   csv: RFC 4180, with a header line of the column titles, and a '\n"
    "                   before a login or name that begins with = + - @, a tab or a carriage\n"
    "                   return, which a spreadsheet would take for a formula;\n"
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

void complainAsRank(const QString &message) {
    complain(kRankProgram, message);
}

std::optional<int> readRankCommandLine(const QStringList &arguments,
                                       const QString &programDirectory, RankRequest &request) {
    ProgramOptions options(kRankProgram, kRankUsage, complain);
    const QCommandLineOption format(QStringLiteral("format"), QString(), QStringLiteral("FORMAT"));
    const QCommandLineOption top(QStringLiteral("top"), QString(), QStringLiteral("N"));
    const QCommandLineOption output(QStringLiteral("output"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption watch(QStringLiteral("watch"));
    for (const QCommandLineOption &option : {format, top, output, watch})
        options.add(option);
    if (const auto status = options.read(arguments))
        return status;
    const QCommandLineParser &parser = options.parser();
    if (parser.isSet(format)) {
        const auto named = rankingFormatNamed(parser.value(format));
        if (!named)
            return options.badUsage(QStringLiteral("unknown format \"%1\": tsv, csv or json")
                                        .arg(parser.value(format)));
        request.format = *named;
    }
    if (parser.isSet(top)) {
        bool number = false;
        const qlonglong n = parser.value(top).toLongLong(&number);
        if (!number || n < 1) {
            options.say(QStringLiteral("--top takes a whole number above 0, not \"%1\"")
                            .arg(parser.value(top)));
            return kExitUsage;
        }
        request.top = static_cast<int>(std::min<qlonglong>(n, INT_MAX));
    }
    request.output = parser.value(output);
    request.watch = parser.isSet(watch);
    if (parser.isSet(output) && request.output.isEmpty())
        return options.badUsage(QStringLiteral("--output takes a file name"));
    if (request.watch && request.output.isEmpty())
        return options.badUsage(QStringLiteral("--watch needs --output FILE"));
    request.programFolder = options.folder(programDirectory);
    return std::nullopt;
}

} // namespace orvantis
