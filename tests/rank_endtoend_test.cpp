// Runs the built orvantis-rank, copied into a temporary folder as an admin would place it.
#include "programrun.h"
#include "qtprinters.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

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

TEST_F(RankEndToEnd, TakesAnotherFolderAndExplainsItsUsage) {
    TempFolder other;
    other.write("accounts/x.ini", "[GENERAL]\nLogin=elsewhere\n[CHAR3]\nLevel=1\n");
    EXPECT_EQ(run({other.path().toUtf8()}).out, "elsewhere\t1\t3\t\n");
    const ProgramRun help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.startsWith("Usage: orvantis-rank [FOLDER]"));
    EXPECT_EQ(run({"a", "b"}).status, 2);
    EXPECT_EQ(run({"--bogus"}).status, 2);
}
