// The exit-status rule of orvantis-rank, one row per state of a report: the status, the lines
// standard error gets, and the first rule that applies when several could.
#include "console/rankstatus.h"
#include "platform/exitstatus.h"
#include "qtprinters.h"

#include <gtest/gtest.h>

using namespace orvantis;

namespace {

ScanReport listed(size_t accountFiles, std::vector<SkippedFile> skipped = {}) {
    ScanReport report;
    report.accountsPath = QStringLiteral("/srv/game/accounts");
    report.accountFiles = accountFiles;
    report.skipped = std::move(skipped);
    return report;
}

ScanReport notListed(FolderState state) {
    ScanReport report = listed(0);
    report.accounts = state;
    report.accountsLinkTarget = QStringLiteral("/mnt/gone");
    return report;
}

const SkippedFile kUnreadable{"a.ini", "could not be read: Permission denied", true};
const SkippedFile kOutOfRange{"b.ini", "a character level is outside -2147483648 to 2147483647"};

} // namespace

TEST(RankStatus, EachReportGivesItsStatusAndSaysWhy) {
    struct Row {
        const char *what;
        ScanReport report;
        int status;
        QStringList lines;
        QString closing;
    };
    const Row rows[] = {
        {"every file read", listed(3), kExitSuccess, {}, ""},
        {"no account files",
         listed(0),
         kExitNoAccountFiles,
         {},
         "no account files in /srv/game/accounts"},
        {"unreadable files",
         listed(3, {kUnreadable}),
         kExitFilesLeftOut,
         {"skipped a.ini: could not be read: Permission denied"},
         "1 of 3 account files could not be read: the ranking lacks their accounts"},
        {"files left out for both reasons",
         listed(9, {kUnreadable, kOutOfRange}),
         kExitFilesLeftOut,
         {"skipped a.ini: could not be read: Permission denied",
          "skipped b.ini: a character level is outside -2147483648 to 2147483647"},
         "2 of 9 account files were left out: the ranking lacks their accounts"},
        {"a plain file",
         notListed(FolderState::NotAFolder),
         kExitAccountsNotAFolder,
         {},
         "/srv/game/accounts is not a folder"},
        {"a link to nowhere",
         notListed(FolderState::LinkToNowhere),
         kExitAccountsNotAFolder,
         {},
         "/srv/game/accounts is a link to /mnt/gone, which leads nowhere"},
        {"gone since the start",
         notListed(FolderState::Missing),
         kExitAccountsNotAFolder,
         {},
         "/srv/game/accounts no longer exists"},
    };
    for (const Row &row : rows) {
        const RankVerdict verdict = rankVerdict(row.report);
        EXPECT_EQ(verdict.status, row.status) << row.what;
        EXPECT_EQ(verdict.lines, row.lines) << row.what;
        EXPECT_EQ(verdict.closing, row.closing) << row.what;
    }
}

TEST(RankStatus, TheFirstRuleThatAppliesWins) {
    // A folder that is no folder says so, whatever else the report holds.
    ScanReport report = notListed(FolderState::NotAFolder);
    report.skipped = {kUnreadable};
    EXPECT_EQ(rankVerdict(report).status, kExitAccountsNotAFolder);
    EXPECT_TRUE(rankVerdict(report).lines.isEmpty());
    // Files left out, not "no account files", when every account file was left out.
    EXPECT_EQ(rankVerdict(listed(1, {kOutOfRange})).status, kExitFilesLeftOut);
}
