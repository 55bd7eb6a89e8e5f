// Runs the built orvantis-rank, copied into a temporary folder as an admin would place it.
#include "accountfiles.h"
#include "programrun.h"
#include "qtprinters.h"
#include "tempfolder.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <sys/stat.h>

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

TEST_F(RankEndToEnd, ReportsSkippedFilesOnStderrAndGoesOn) {
    folder.write("accounts/a.ini", "[GENERAL]\nLogin=ok\n[CHAR1]\nLevel=3\n");
    folder.write("accounts/z.ini", "[GENERAL]\nLogin=big\n[CHAR1]\nLevel=9999999999\n");
    const ProgramRun r = run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "ok\t3\t1\t\n");
    EXPECT_TRUE(r.err.startsWith("orvantis-rank: skipped z.ini: ")) << r.err.toStdString();
}

TEST_F(RankEndToEnd, RefusesAFolderWithoutAnEntryNamedExactlyAccounts) {
    EXPECT_EQ(run().status, 1);
    folder.mkdir("Accounts");
    const ProgramRun r = run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Accounts folder not found!\n");
    EXPECT_EQ(r.out, "");
}

TEST_F(RankEndToEnd, APlainFileNamedAccountsPassesWithAnEmptyRanking) {
    folder.write("accounts", "not a folder");
    const ProgramRun r = run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
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
