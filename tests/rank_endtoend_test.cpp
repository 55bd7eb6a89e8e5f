// Runs the built orvantis-rank, copied into a temporary folder as an admin would place it.
#include "accountfiles.h"
#include "programrun.h"
#include "qtprinters.h"
#include "tempfolder.h"

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

TEST_F(RankEndToEnd, TakesAnotherFolderAndExplainsItsUsage) {
    TempFolder other;
    other.write("accounts/x.ini", "[GENERAL]\nLogin=elsewhere\n[CHAR3]\nLevel=1\n");
    EXPECT_EQ(run({other.path().toUtf8()}).out, "elsewhere\t1\t3\t\n");
    const ProgramRun help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.startsWith("Usage: orvantis-rank [FOLDER]"));
    EXPECT_EQ(run({"a", "b"}).status, 2);
    EXPECT_EQ(run({"--bogus"}).status, 2);
    for (const char *status : {"  0 ", "  1 ", "  2 ", "  70 ", "  74 "})
        EXPECT_TRUE(help.out.contains(status)) << "--help names exit status" << status;
}
