// orvantis-rank's help and its manual's words, what it lets reach a terminal, and its output file,
// written once and kept up to date with --watch.
#include "rankendtoend.h"

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

TEST_F(RankEndToEnd, TakesAnotherFolderAndExplainsItsOptions) {
    TempFolder other;
    other.write("accounts/x.ini", "[GENERAL]\nLogin=elsewhere\n[CHAR3]\nLevel=1\n");
    EXPECT_EQ(run({other.path().toUtf8()}).out, "elsewhere\t1\t3\t\n");
    const ProgramRun help = run({"--help"});
    for (const char *option : {"--format", "--top", "--output", "--watch"})
        EXPECT_TRUE(help.out.contains(option)) << "--help names " << option;
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
