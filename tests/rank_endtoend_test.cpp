// orvantis-rank as an admin runs it: the ranking it prints, its statuses and messages, its
// formats and options.
#include "rankendtoend.h"

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
    // Logins with what each format must take care of: commas, quotes, control characters,
    // formulas a spreadsheet would run, and letters beyond ASCII in UTF-8 and in Windows-1252
    // files.
    const QList<QByteArray> logins = {"plain",
                                      "comma,login",
                                      "say \"hi\"",
                                      "semi;colon",
                                      "ctrl\x01\x1b\x7f",
                                      "ba\\ck\\slash",
                                      "=HYPERLINK(\"http://x\",\"y\")",
                                      "+cmd|' /C calc'!A0",
                                      "@SUM(A1)",
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
    ASSERT_EQ(tsv.out.count('\n'), 12);
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
                                                                 {"--format"}}) {
        const ProgramRun r = run(bad);
        EXPECT_EQ(r.status, 2) << bad.join(' ').toStdString();
        EXPECT_EQ(r.out, "") << "no partial output for " << bad.join(' ').toStdString();
        EXPECT_TRUE(r.err.startsWith("orvantis-rank: ") && r.err.count('\n') == 1)
            << "one clear line for " << bad.join(' ').toStdString() << ": " << r.err.toStdString();
    }
}
