// Runs the built orvantis-rank, copied into a temporary folder as an admin would place it.
#include "accountfiles.h"
#include "programrun.h"
#include "qtprinters.h"
#include "tempfolder.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QTest>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class RankEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        program = folder.path("orvantis-rank");
        ASSERT_TRUE(QFile::copy(ORVANTIS_RANK_EXE, program));
    }
    ProgramRun run(const QList<QByteArray> &args = {}, const ProgramOptions &options = {}) {
        return runProgram(program.toUtf8(), args, options);
    }
    TempFolder folder;
    QString program;
};

} // namespace

TEST_F(RankEndToEnd, PrintsTheRankingOfTheAccountsBesideIt) {
    folder.write("accounts/a.ini", "[GENERAL]\nLogin=alice\n[CHAR2]\nName=Tab\tName\nLevel=9\n");
    folder.write("accounts/b.ini", "[GENERAL]\nLogin=Björn\n[CHAR1]\nName=Ørn\nLevel=12\n");
    folder.write("accounts/c.ini", "[GENERAL]\nLogin=tied\n[CHAR1]\nLevel=4\n[CHAR2]\nLevel=4\n");
    folder.write("accounts/d.ini", "[GENERAL]\nLogin=\n[CHAR1]\nLevel=50\n");
    const ProgramRun r = run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, QString::fromUtf8("Björn\t12\t1\tØrn\nalice\t9\t2\tTab Name\ntied\t\tX\t\n"));
    EXPECT_EQ(r.err, "");
}

TEST_F(RankEndToEnd, AFileWithALevelOutOfRangeIsNamedAndTheRankingIsNotWhole) {
    // The top player's file, with a level too large to count: the leaderboard would lose them.
    folder.write("accounts/a.ini", "[GENERAL]\nLogin=ok\n[CHAR1]\nLevel=3\n");
    folder.write("accounts/nologin.ini", "[CHAR1]\nLevel=7\n");
    folder.write("accounts/z.ini", "[GENERAL]\nLogin=top\n[CHAR1]\nLevel=880000000000\n");
    const ProgramRun r = run();
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, "ok\t3\t1\t\n") << "the others' ranking, printed";
    EXPECT_EQ(r.err, "orvantis-rank: skipped z.ini: a character level is outside -2147483648 to "
                     "2147483647\norvantis-rank: 1 of 3 account files were left out: the ranking "
                     "lacks their accounts\n");
    QFile::remove(folder.path("accounts/z.ini"));
    const ProgramRun whole = run();
    EXPECT_EQ(whole.status, 0) << "an account without a login is no fault";
    EXPECT_EQ(whole.err, "");
}

TEST_F(RankEndToEnd, SaysSoWhenTheFolderItIsGivenDoesNotExist) {
    const QByteArray nowhere = folder.path("no/such/folder").toUtf8();
    const ProgramRun r = run({nowhere});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Accounts folder not found!\norvantis-rank: " + nowhere + " does not exist\n");
    const ProgramRun file = run({program.toUtf8()});
    EXPECT_EQ(file.status, 1);
    EXPECT_EQ(file.err, "Accounts folder not found!\norvantis-rank: " + program.toUtf8() +
                            " is not a folder\n");
}

TEST_F(RankEndToEnd, RefusesAFolderWithoutAnEntryNamedExactlyAccountsAndSaysWhereItLooked) {
    EXPECT_EQ(run().status, 1);
    folder.mkdir("Accounts");
    const ProgramRun r = run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Accounts folder not found!\norvantis-rank: no entry named exactly "
                     "\"accounts\" in " +
                         folder.path().toUtf8() + "\n");
    EXPECT_EQ(r.out, "");
}

TEST_F(RankEndToEnd, AnAccountsEntryThatIsNoFolderGivesNoRankingAndStatus3) {
    // A plain file, and the link of the README's recipe with a typo in its target.
    folder.write("accounts", "not a folder");
    ProgramRun r = run();
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "orvantis-rank: " + folder.path("accounts").toUtf8() + " is not a folder\n");
    for (const char *format : {"csv", "json"})
        EXPECT_EQ(run({"--format", format}).out, "") << "no ranking at all in " << format;

    QFile::remove(folder.path("accounts"));
    ASSERT_TRUE(QFile::link("/srv/gmae/accounts", folder.path("accounts")));
    r = run({"--format", "json"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "orvantis-rank: " + folder.path("accounts").toUtf8() +
                         " is a link to /srv/gmae/accounts, which leads nowhere\n");
}

TEST_F(RankEndToEnd, AFolderWithoutAccountFilesPrintsTheEmptyRankingWithStatus4) {
    folder.write("accounts/notes.txt", "[GENERAL]\nLogin=not an account file\n");
    const ProgramRun r = run({"--format", "json"});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(QJsonDocument::fromJson(r.out).array().size(), 0) << r.out.toStdString();
    EXPECT_EQ(r.err,
              "orvantis-rank: no account files in " + folder.path("accounts").toUtf8() + "\n");
}

TEST_F(RankEndToEnd, AnAccountFileWhoseKindCannotBeToldIsReportedNotLeftUnseen) {
    const QByteArray user = unprivilegedUser();
    if (user.isEmpty())
        GTEST_SKIP() << "running as root, which reads any file, and setpriv is missing";
    // A link to a file in a folder the program may not look into: what it leads to cannot be
    // told, so the listing must not quietly take it for no file.
    folder.write("accounts/a.ini", "[GENERAL]\nLogin=alice\n[CHAR1]\nLevel=3\n");
    folder.write("locked/inner.ini", "[GENERAL]\nLogin=hidden\n[CHAR1]\nLevel=9\n");
    ASSERT_TRUE(QFile::link(folder.path("locked/inner.ini"), folder.path("accounts/link.ini")));
    ASSERT_EQ(::chmod(folder.path().toUtf8(), 0755), 0);
    ASSERT_EQ(::chmod(folder.path("accounts").toUtf8(), 0755), 0);
    ASSERT_EQ(::chmod(folder.path("accounts/a.ini").toUtf8(), 0644), 0);
    ASSERT_EQ(::chmod(folder.path("locked").toUtf8(), 0700), 0);
    if (user == "self") {
        ASSERT_EQ(::chmod(folder.path("locked").toUtf8(), 0), 0);
    }
    const ProgramRun r = run({}, {user, {}, {}});
    ::chmod(folder.path("locked").toUtf8(), 0700);
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, "alice\t3\t1\t\n");
    EXPECT_EQ(r.err, "orvantis-rank: skipped link.ini: could not be read: Permission denied\n"
                     "orvantis-rank: 1 of 2 account files could not be read: the ranking lacks "
                     "their accounts\n");
}

TEST_F(RankEndToEnd, UnreadableAccountFilesAreNamedAndTheRankingIsOfTheOthersWithStatus5) {
    const QByteArray user = unprivilegedUser();
    if (user.isEmpty())
        GTEST_SKIP() << "running as root, which reads any file, and setpriv is missing";
    folder.write("accounts/a.ini", "[GENERAL]\nLogin=alice\n[CHAR1]\nLevel=3\n");
    folder.write("accounts/b.ini", "[GENERAL]\nLogin=bob\n[CHAR1]\nLevel=4\n");
    folder.write("accounts/c.ini", "[GENERAL]\nLogin=carol\n[CHAR1]\nLevel=5\n");
    ASSERT_EQ(::chmod(folder.path().toUtf8(), 0755), 0);
    ASSERT_EQ(::chmod(folder.path("accounts").toUtf8(), 0755), 0);
    for (const char *name : {"a.ini", "b.ini", "c.ini"})
        ASSERT_EQ(::chmod(folder.path("accounts/" + QString::fromLatin1(name)).toUtf8(), 0644), 0);
    ASSERT_EQ(::chmod(folder.path("accounts/b.ini").toUtf8(), 0600), 0);
    ProgramRun r = run({}, {user, {}, {}});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, "carol\t5\t1\t\nalice\t3\t1\t\n");
    EXPECT_EQ(r.err, "orvantis-rank: skipped b.ini: could not be read: Permission denied\n"
                     "orvantis-rank: 1 of 3 account files could not be read: the ranking lacks "
                     "their accounts\n");

    // None readable: the whole ranking is empty, and says why.
    for (const char *name : {"a.ini", "c.ini"})
        ASSERT_EQ(::chmod(folder.path("accounts/" + QString::fromLatin1(name)).toUtf8(), 0600), 0);
    r = run({"--format", "json"}, {user, {}, {}});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err.count("could not be read: Permission denied\n"), 3) << r.err.toStdString();
}

TEST_F(RankEndToEnd, AnUnreadableAccountsFolderIsOneLineAndStatus70) {
    const QByteArray user = unprivilegedUser();
    if (user.isEmpty())
        GTEST_SKIP() << "running as root, which reads any folder, and setpriv is missing";
    folder.write("accounts/a.ini", "[GENERAL]\nLogin=alice\n[CHAR1]\nLevel=3\n");
    ASSERT_EQ(::chmod(folder.path().toUtf8(), 0755), 0);
    ASSERT_EQ(::chmod(folder.path("accounts").toUtf8(), 0), 0);
    const ProgramRun r = run({}, {user, {}, {}});
    ::chmod(folder.path("accounts").toUtf8(), 0755);
    EXPECT_EQ(r.signal, 0) << "ended by a signal";
    EXPECT_EQ(r.status, 70);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "orvantis-rank: cannot read the folder " + folder.path("accounts/").toUtf8() +
                         ": Permission denied\n");
}

TEST_F(RankEndToEnd, AnOutputThatCannotBeWrittenIsStatus74) {
    folder.write("accounts/a.ini", "[GENERAL]\nLogin=alice\n[CHAR1]\nLevel=3\n");
    const ProgramRun r = run({}, {{}, {}, "/dev/full"});
    EXPECT_EQ(r.status, 74);
    EXPECT_TRUE(r.err.startsWith("orvantis-rank: cannot write the ranking: "))
        << r.err.toStdString();
}

TEST_F(RankEndToEnd, ANonBlockingPipeReadSlowlyGetsTheWholeRanking) {
    for (int i = 0; i < 8000; ++i)
        folder.write(QStringLiteral("accounts/%1.ini").arg(i),
                     accountFile("player" + QByteArray::number(i), i % 500 + 1));
    const ProgramRun expected = run();
    ASSERT_EQ(expected.status, 0);
    ASSERT_GT(expected.out.size(), 2 * 64 * 1024) << "more than a pipe holds";

    // As a parent such as Node.js leaves it: the pipe's write end non-blocking.
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    ASSERT_EQ(::fcntl(pipeEnds[1], F_SETFL, O_NONBLOCK), 0);
    const QByteArray exe = program.toUtf8(), accounts = folder.path().toUtf8();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeEnds[1], STDOUT_FILENO);
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        ::execl(exe.constData(), exe.constData(), accounts.constData(),
                static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(pid, 0);
    ::close(pipeEnds[1]);
    ::usleep(300'000); // the program meets a full pipe
    QByteArray got;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0; ::usleep(200))
        got.append(buffer, n);
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
    EXPECT_EQ(got.size(), expected.out.size());
    EXPECT_TRUE(got == expected.out);
}

TEST_F(RankEndToEnd, WritesTheSameBytesInEveryLocale) {
    // Levels from 1 to 9999, negative ones too: the digits and signs of the output are ASCII
    // whatever the user's language and script.
    for (int i = 0; i < 40; ++i) {
        const int level = (i * 257) % 10000 - 20;
        folder.write(QStringLiteral("accounts/a%1.ini").arg(i),
                     accountFile("user" + QByteArray::number(i),
                                 {QByteArray::number(level), QByteArray::number(level - 1),
                                  QByteArray::number(level - 2)}));
    }
    const ProgramRun c = run({}, {{}, {"LANG=C", "LC_ALL=C"}, {}});
    ASSERT_EQ(c.status, 0);
    ASSERT_TRUE(c.out.contains("\t-20\t1\t")) << c.out.toStdString();
    for (const char *locale : {"de_DE", "sv_SE", "ar_EG", "hi_IN", "bn_BD", "mr_IN", "fa_IR"}) {
        const QByteArray lang = QByteArray(locale) + ".UTF-8";
        const ProgramRun r = run({}, {{}, {"LANG=" + lang, "LC_ALL=" + lang}, {}});
        EXPECT_EQ(r.status, 0) << locale;
        EXPECT_EQ(r.out, c.out) << locale;
    }
}

namespace {

using Rows = QList<QStringList>;

// The rows of TSV output, split into their cells.
Rows tsvRows(const QByteArray &tsv) {
    Rows rows;
    for (const QByteArray &line : tsv.split('\n'))
        if (!line.isEmpty())
            rows << QString::fromUtf8(line).split(u'\t');
    return rows;
}

// The rows that parse_ranking.py prints, one JSON array of cells per line; a tab in a cell is
// a space, as in TSV.
Rows parsedRows(const QByteArray &lines) {
    Rows rows;
    for (const QByteArray &line : lines.split('\n')) {
        if (line.isEmpty())
            continue;
        QStringList cells;
        for (const QJsonValue &cell : QJsonDocument::fromJson(line).array())
            cells << cell.toString().replace(u'\t', u' ');
        rows << cells;
    }
    return rows;
}

} // namespace

TEST_F(RankEndToEnd, CsvAndJsonHoldTheRowsOfTheDefaultOutputForIndependentReaders) {
    // Logins with what each format must take care of: commas, quotes, control characters, and
    // letters beyond ASCII in UTF-8 and in Windows-1252 files.
    const QList<QByteArray> logins = {"plain",
                                      "comma,login",
                                      "say \"hi\"",
                                      "semi;colon",
                                      "ctrl\x01\x1b\x7f",
                                      "ba\\ck\\slash",
                                      "\xc3\x9cn\xc3\xaf"
                                      "c\xc3\xb8"
                                      "d\xc3\xa9"};
    for (int i = 0; i < logins.size(); ++i)
        folder.write(QStringLiteral("accounts/a%1.ini").arg(i),
                     accountFile(logins[i], {QByteArray::number(10 * i + 5)}));
    folder.write("accounts/latin.ini",
                 "[GENERAL]\nLogin=Bj\xf6rn, \"the\" \x80\n[CHAR1]\nLevel=1\n");
    folder.write("accounts/tied.ini", accountFile("tied", {"4", "4"}));
    const ProgramRun tsv = run();
    ASSERT_EQ(tsv.status, 0);
    ASSERT_EQ(tsv.out.count('\n'), 9);
    for (const char *form : {"csv", "json"}) {
        const ProgramRun r = run({"--format", form});
        ASSERT_EQ(r.status, 0) << form;
        const QString file = folder.write(QStringLiteral("out.") + form, r.out);
        const ProgramRun parsed =
            runProgram("/usr/bin/python3", {PARSE_RANKING_PY, form, file.toUtf8()});
        ASSERT_EQ(parsed.status, 0) << form << ": " << parsed.err.toStdString();
        EXPECT_EQ(parsedRows(parsed.out), tsvRows(tsv.out)) << form;
    }
    const ProgramRun json = run({"--format", "json"});
    const QString jsonFile = folder.write("out.json", json.out);
    EXPECT_EQ(runProgram("/usr/bin/python3", {"-m", "json.tool", jsonFile.toUtf8()}).status, 0);
}

TEST_F(RankEndToEnd, TopAndFormatAreCheckedBeforeAnythingIsWritten) {
    for (int i = 0; i < 5; ++i)
        folder.write(QStringLiteral("accounts/a%1.ini").arg(i),
                     accountFile("u" + QByteArray::number(i), 10 + i));
    const ProgramRun all = run();
    const QList<QByteArray> lines = all.out.split('\n');
    EXPECT_EQ(run({"--top", "2"}).out, lines[0] + '\n' + lines[1] + '\n');
    EXPECT_EQ(run({"--top", "99"}).out, all.out) << "more than there are: all of them";
    EXPECT_EQ(run({"--top=3", "--format=csv"}).out.count("\r\n"), 4) << "a header and three rows";
    for (const QList<QByteArray> &bad : QList<QList<QByteArray>>{{"--top", "0"},
                                                                 {"--top", "-2"},
                                                                 {"--top", "two"},
                                                                 {"--top"},
                                                                 {"--format", "xml"},
                                                                 {"--format"},
                                                                 {"--bogus"},
                                                                 {"one", "two"}}) {
        const ProgramRun r = run(bad);
        EXPECT_EQ(r.status, 2) << bad.join(' ').toStdString();
        EXPECT_EQ(r.out, "") << "no partial output for " << bad.join(' ').toStdString();
        EXPECT_TRUE(r.err.startsWith("orvantis-rank: ") && r.err.count('\n') == 1)
            << "one clear line for " << bad.join(' ').toStdString() << ": " << r.err.toStdString();
    }
    const ProgramRun version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "orvantis-rank 1.4\n");
}

namespace {

// The statuses a text lists, each with its meaning, white space folded: from --help's "Exit
// status:" section, or from the README's table of them.
QMap<int, QString> statusesOfHelp(const QByteArray &help) {
    QMap<int, QString> statuses;
    int current = -1;
    for (const QByteArray &line : help.mid(help.indexOf("Exit status:\n")).split('\n').mid(1)) {
        const QString text = QString::fromUtf8(line);
        static const QRegularExpression entry(QStringLiteral("^  (\\d+) +(.*)$"));
        if (const auto match = entry.match(text); match.hasMatch())
            statuses[current = match.captured(1).toInt()] = match.captured(2);
        else if (current >= 0 && !text.trimmed().isEmpty())
            statuses[current] += u' ' + text.trimmed();
    }
    return statuses;
}
QMap<int, QString> statusesOfReadme(const QString &readme) {
    QMap<int, QString> statuses;
    const QString table = readme.mid(readme.indexOf(QStringLiteral("| status | meaning |")));
    static const QRegularExpression row(QStringLiteral("^\\| (\\d+) \\| (.*) \\|$"));
    for (const QString &line : table.split(u'\n').mid(2)) {
        const auto match = row.match(line);
        if (!match.hasMatch())
            break;
        statuses[match.captured(1).toInt()] = match.captured(2).remove(u'`');
    }
    return statuses;
}

} // namespace

TEST_F(RankEndToEnd, TheReadmeListsTheStatusesInTheWordsOfHelp) {
    const QMap<int, QString> help = statusesOfHelp(run({"--help"}).out);
    EXPECT_EQ(help.keys(), QList<int>({0, 1, 2, 3, 4, 5, 70, 74}));
    QFile readme(QStringLiteral(ORVANTIS_README));
    ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
    EXPECT_EQ(statusesOfReadme(QString::fromUtf8(readme.readAll())), help);
}

TEST_F(RankEndToEnd, JsonSaysTheLevelATiedAccountsCharactersShare) {
    folder.write("accounts/a.ini", accountFile("vallor6083", {"293", "293", "12"}));
    folder.write("accounts/b.ini", accountFile("all3", {"7", "7", "7"}));
    folder.write("accounts/c.ini", accountFile("zero", {"0", "0"}));
    folder.write("accounts/d.ini", accountFile("below", {"-4", "-4", "-9"}));
    folder.write("accounts/e.ini", accountFile("single", {"5", "40"}));
    const QJsonArray rows = QJsonDocument::fromJson(run({"--format", "json"}).out).array();
    QMap<QString, QJsonObject> byLogin;
    for (const QJsonValue &row : rows)
        byLogin[row["login"].toString()] = row.toObject();
    ASSERT_EQ(byLogin.size(), 5);
    EXPECT_EQ(byLogin["vallor6083"].value("tiedLevel").toInt(), 293);
    EXPECT_EQ(byLogin["vallor6083"].value("level").toInt(), 0);
    EXPECT_EQ(byLogin["all3"].value("tiedLevel").toInt(), 7);
    for (const char *login : {"zero", "below", "single"})
        EXPECT_FALSE(byLogin[login].contains("tiedLevel")) << login;
    EXPECT_EQ(run({"--format", "csv"}).out.split('\n')[0],
              "Username,Highest Level,Char No.,Char Name\r")
        << "TSV and CSV keep their four columns";
}

TEST_F(RankEndToEnd, TakesAnotherFolderAndExplainsItsUsage) {
    TempFolder other;
    other.write("accounts/x.ini", "[GENERAL]\nLogin=elsewhere\n[CHAR3]\nLevel=1\n");
    EXPECT_EQ(run({other.path().toUtf8()}).out, "elsewhere\t1\t3\t\n");
    const ProgramRun help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.startsWith("Usage: orvantis-rank [OPTION]... [FOLDER]"));
    for (const char *option : {"--format", "--top", "--help", "--version"})
        EXPECT_TRUE(help.out.contains(option)) << "--help names " << option;
    EXPECT_EQ(run({"a", "b"}).status, 2);
    EXPECT_EQ(run({"--bogus"}).status, 2);
    for (const char *status : {"  0 ", "  1 ", "  2 ", "  70 ", "  74 "})
        EXPECT_TRUE(help.out.contains(status)) << "--help names exit status" << status;
}

namespace {

// What players and the tools that made the files may put in them: escape sequences that retitle
// a terminal, write its clipboard or colour it, BEL, DEL, C1 controls and line breaks.
void writeHostileTexts(const TempFolder &folder) {
    folder.write("accounts/a.ini", "[GENERAL]\nLogin=evil\033]0;pwned\007name\n[CHAR1]\nLevel=5\n"
                                   "Name=clip\033]52;c;aGk=\007board\n");
    folder.write("accounts/b.ini", "[GENERAL]\nLogin=del\177and\302\233c1\n[CHAR2]\nLevel=7\n"
                                   "Name=ff\014over\n");
    folder.write(QStringLiteral("accounts/bad\033[31mred.ini"),
                 "[GENERAL]\nLogin=x\n[CHAR1]\nLevel=99999999999\n");
    folder.write(QStringLiteral("accounts/new\nline.ini"),
                 "[GENERAL]\nLogin=y\n[CHAR1]\nLevel=99999999999\n");
}

// What a terminal received, less the progress line's own sequences (they hold nothing from the
// folder).
QByteArray withoutProgressLine(QByteArray received) {
    static const QRegularExpression progress(
        QStringLiteral("\r(\\d+ of \\d+ account files read)?\033\\[K"));
    return QString::fromUtf8(received).remove(progress).toUtf8();
}

} // namespace

TEST_F(RankEndToEnd, OnATerminalTextFromTheFolderIsShownEscapedNeverSent) {
    writeHostileTexts(folder);
    for (const char *format : {"tsv", "csv", "json"}) {
        const ProgramRun r = runOnTerminal(program.toUtf8(), {"--format", format});
        EXPECT_EQ(r.status, 5) << format << ": two files left out";
        const QByteArray received = withoutProgressLine(r.out);
        for (const char c : received) {
            const auto byte = static_cast<unsigned char>(c);
            EXPECT_FALSE((byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') ||
                         byte == 0x7F)
                << format << ": raw byte " << int(byte) << " in " << received.toStdString();
        }
        EXPECT_FALSE(QString::fromUtf8(received).contains(QChar(0x9B))) << format << ": raw C1";
        // One line per message, whatever the file name holds: two files named, and the count.
        const QList<QByteArray> lines = received.split('\n');
        EXPECT_EQ(
            std::count_if(lines.begin(), lines.end(),
                          [](const QByteArray &l) { return l.startsWith("orvantis-rank: "); }),
            3)
            << received.toStdString();
        EXPECT_TRUE(received.contains("orvantis-rank: skipped bad\\x1b[31mred.ini: "));
        EXPECT_TRUE(received.contains("orvantis-rank: skipped new\\x0aline.ini: "));
    }
    const ProgramRun tsv = runOnTerminal(program.toUtf8(), {});
    EXPECT_TRUE(tsv.out.contains("del\\x7fand\\u009bc1\t7\t2\tff\\x0cover\r\n"))
        << tsv.out.toStdString();
    EXPECT_TRUE(
        tsv.out.contains("evil\\x1b]0;pwned\\x07name\t5\t1\tclip\\x1b]52;c;aGk=\\x07board"));
}

TEST_F(RankEndToEnd, PipedTheCellsAreWrittenAsTheyAreAndStandardErrorIsStillEscaped) {
    writeHostileTexts(folder);
    const ProgramRun r = run();
    EXPECT_EQ(r.status, 5) << "two files left out";
    EXPECT_EQ(r.out, "del\177and\302\233c1\t7\t2\tff\014over\n"
                     "evil\033]0;pwned\007name\t5\t1\tclip\033]52;c;aGk=\007board\n");
    EXPECT_EQ(r.err.count('\n'), 3) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains('\033'));
    EXPECT_TRUE(r.err.contains("orvantis-rank: skipped new\\x0aline.ini: a character level"));
}

namespace {

QByteArray contentsOf(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

// The names in a folder but the ones given.
QStringList othersIn(const QString &folder, const QStringList &expected) {
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    for (const QString &name : expected)
        names.removeAll(name);
    return names;
}

} // namespace

TEST_F(RankEndToEnd, OutputReplacesTheFileOnlyWithARankingMadeFromEveryAccountFile) {
    folder.write("accounts/a.ini", "[GENERAL]\nLogin=alice\n[CHAR1]\nLevel=3\n");
    folder.write("accounts/b.ini", "[GENERAL]\nLogin=bob\n[CHAR1]\nLevel=4\n");
    const QString out = folder.mkdir("site") + "/top.json";
    ProgramRun r = run({"--format", "json", "--output", out.toUtf8()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "") << "nothing on standard output";
    EXPECT_EQ(r.err, "");
    const QByteArray whole = contentsOf(out);
    EXPECT_EQ(whole, run({"--format", "json"}).out) << "the bytes standard output would get";

    folder.write("accounts/z.ini", "[GENERAL]\nLogin=top\n[CHAR1]\nLevel=880000000000\n");
    r = run({"--format", "json", "--output", out.toUtf8()});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err, "orvantis-rank: skipped z.ini: a character level is outside -2147483648 to "
                     "2147483647\norvantis-rank: 1 of 3 account files were left out: the ranking "
                     "lacks their accounts; " +
                         out.toUtf8() + " kept as it was\n");
    EXPECT_EQ(contentsOf(out), whole) << "kept as it was";

    for (const char *name : {"a.ini", "b.ini", "z.ini"})
        QFile::remove(folder.path("accounts/") + name);
    r = run({"--output", out.toUtf8()});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(contentsOf(out), whole) << "an empty folder does not empty the leaderboard";
    EXPECT_EQ(othersIn(folder.path("site"), {"top.json"}), QStringList()) << "nothing left beside";

    r = run({"--output", folder.path("no/such/folder/top.tsv").toUtf8()});
    EXPECT_EQ(r.status, 4) << "an empty folder: nothing is written";
    folder.write("accounts/a.ini", "[GENERAL]\nLogin=alice\n[CHAR1]\nLevel=3\n");
    r = run({"--output", folder.path("no/such/folder/top.tsv").toUtf8()});
    EXPECT_EQ(r.status, 74);
    EXPECT_TRUE(r.err.startsWith("orvantis-rank: cannot write " +
                                 folder.path("no/such/folder/top.tsv").toUtf8() + ": "))
        << r.err.toStdString();

    EXPECT_EQ(run({"--watch"}).status, 2) << "--watch needs a file to write";
    EXPECT_EQ(run({"--watch"}).err, "orvantis-rank: --watch needs --output FILE (see --help)\n");
}

TEST_F(RankEndToEnd, WatchRewritesTheOutputWithinASecondOfEachChangeUntilStopped) {
    for (int n = 0; n < 20; ++n)
        folder.write(QStringLiteral("accounts/p%1.ini").arg(n),
                     accountFile("p" + QByteArray::number(n), n + 1));
    const QString out = folder.mkdir("site") + "/top.tsv";
    QTemporaryFile errors;
    ASSERT_TRUE(errors.open());
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(errors.handle(), 2);
        ::execl(program.toUtf8().constData(), "orvantis-rank", "--watch", "--output",
                out.toUtf8().constData(), nullptr);
        ::_exit(127);
    }
    ASSERT_GT(pid, 0);
    const auto asRanked = [&] {
        const QByteArray expected = run().out;
        return QTest::qWaitFor([&] { return contentsOf(out) == expected; }, 5000);
    };
    ASSERT_TRUE(asRanked()) << "the first ranking";
    QElapsedTimer clock;
    clock.start();
    {
        QFile file(folder.path("accounts/p3.ini")); // rewritten in place, as a server saves
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(accountFile("p3", 500));
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return contentsOf(out).startsWith("p3\t500"); }, 5000));
    EXPECT_LT(clock.elapsed(), 1000) << "within a second of the file's close";

    folder.write("accounts/bad.ini", "[GENERAL]\nLogin=bad\n[CHAR1]\nLevel=99999999999\n");
    const QByteArray before = contentsOf(out);
    ASSERT_TRUE(QTest::qWaitFor([&] { return errors.size() > 0; }, 5000));
    folder.write("accounts/p5.ini", accountFile("p5", 600)); // still not whole
    QTest::qWait(500);
    EXPECT_EQ(contentsOf(out), before) << "a ranking without an account is not published";
    QFile::remove(folder.path("accounts/bad.ini"));
    folder.write("accounts/new.ini", accountFile("new", 1000));
    QFile::rename(folder.path("accounts/p0.ini"), folder.path("accounts/p0.old"));
    ASSERT_TRUE(asRanked()) << "mended, added and renamed away";

    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    errors.seek(0);
    EXPECT_EQ(errors.readAll(),
              "orvantis-rank: skipped bad.ini: a character level is outside -2147483648 to "
              "2147483647\norvantis-rank: 1 of 21 account files were left out: the ranking "
              "lacks their accounts; " +
                  out.toUtf8() + " kept as it was\n")
        << "said once";
    EXPECT_EQ(othersIn(folder.path("site"), {"top.tsv"}), QStringList());
}
