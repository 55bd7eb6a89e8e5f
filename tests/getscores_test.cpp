#include "accountfiles.h"
#include "listhelpers.h"
#include "recordingmessagebox.h"
#include "scan/accounts/accountcells.h"
#include "scan/accounts/accountnames.h"
#include "scan/accounts/highestlevel.h"
#include "scan/getscores.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

using namespace orvantis;

namespace {

class GetScoresTest : public ::testing::Test {
protected:
    QStringList rows() const { return rowTexts(list); }
    ScanReport scan() { return GetScores(folder.path(), list, {messages, QLocale::c()}); }

    TempFolder folder;
    ReportList list{reportColumnTitles()};
    RecordingMessageBox messages;
};

} // namespace

TEST(AccountRules, AccountFileNamesEndInIniWhateverTheCase) {
    for (const char *name : {"a.ini", "B.INI", "tahini", "ini", "x.Ini"})
        EXPECT_TRUE(isAccountFileName(name)) << name;
    for (const char *name : {"x.ini.bak", "notes.txt", "in", "", "a.ini "})
        EXPECT_FALSE(isAccountFileName(name)) << name;
}

// What a watch takes for another accounts folder in the folder above: only ASCII letters' case
// is ignored, as the scan's path finds the folder.
TEST(AccountRules, TheAccountsFolderNameIgnoresOnlyASCIILetterCase) {
    for (const char *name : {"accounts", "ACCOUNTS", "Accounts", "aCcOuNtS"})
        EXPECT_TRUE(isAccountsNameIgnoringCase(name)) << name;
    for (const char *name : {"", "account", "accounts.old", "accounts ", "accountſ",
                             "\xc3\xa1"
                             "ccounts"})
        EXPECT_FALSE(isAccountsNameIgnoringCase(name)) << name;
}

TEST(AccountRules, OnlyASlotAboveBothOthersWins) {
    struct Case {
        int32_t l1, l2, l3;
        const char *slot;
        int32_t level;
    };
    const Case cases[] = {{12, 0, 0, "1", 12},   {0, 30, 7, "2", 30},  {5, 5, 9, "3", 9},
                          {40, 40, 10, "X", 0},  {7, 3, 7, "X", 0},    {0, 0, 0, "X", 0},
                          {-3, -7, -5, "1", -3}, {-9, -9, -10, "X", 0}};
    for (const Case &c : cases) {
        const HighestLevel h = findHighestLevel(c.l1, c.l2, c.l3);
        EXPECT_EQ(slotText(h.slot), c.slot) << c.l1 << ' ' << c.l2 << ' ' << c.l3;
        EXPECT_EQ(h.level, c.level) << c.l1 << ' ' << c.l2 << ' ' << c.l3;
    }
}

TEST_F(GetScoresTest, ScansAccountFilesOnlyAndRanksByLevel) {
    folder.write("accounts/a.ini", accountFile("alice", {"12", "0", "0"}));
    folder.write("accounts/B.INI", accountFile("bob", {"0", "30", "7"}));
    folder.write("accounts/tahini", accountFile("tahini", {"5", "5", "9"}));
    folder.write("accounts/x.ini.bak", accountFile("backup", {"99", "0", "0"}));
    folder.write("accounts/sub.ini/c.ini", accountFile("nested", {"98", "0", "0"}));
    scan();
    EXPECT_EQ(rows(), QStringList({"bob|30|2|Two", "alice|12|1|One", "tahini|9|3|Three"}));
    EXPECT_TRUE(list.isSorted());
    EXPECT_TRUE(list.Visible());
}

TEST_F(GetScoresTest, ASharedTopLevelGivesSlotXAndTheNameOfSectionCharX) {
    folder.write("accounts/a.ini", accountFile("tied", {"40", "40", "10"}));
    folder.write("accounts/b.ini",
                 accountFile("named", {"5", "5", "1"}, "[CHARX]\nName=  Who  \n"));
    folder.write("accounts/c.ini", "[GENERAL]\nLogin=nochars\n");
    folder.write("accounts/d.ini", accountFile("top", {"1", "0", "0"}));
    scan();
    EXPECT_EQ(rows(), QStringList({"top|1|1|One", "tied||X|", "named||X|Who", "nochars||X|"}));
}

TEST_F(GetScoresTest, NegativeLevelsRankBelowZero) {
    folder.write("accounts/a.ini", accountFile("neg", {"-3", "-7", "-5"}));
    folder.write("accounts/b.ini", accountFile("zero", {"0", "0", "0"}));
    folder.write("accounts/c.ini", accountFile("pos", {"2", "0", "0"}));
    scan();
    EXPECT_EQ(rows(), QStringList({"pos|2|1|One", "zero||X|", "neg|-3|1|One"}));
}

TEST_F(GetScoresTest, LevelTextsAreReadAsTheirLeadingNumber) {
    folder.write("accounts/a.ini", accountFile("blanks", {" 42 ", "0", "0"}));
    folder.write("accounts/b.ini", accountFile("letters", {"41abc", "0", "0"}));
    folder.write("accounts/c.ini", accountFile("half", {"2.5", "3.5", "0"}));
    folder.write("accounts/d.ini", accountFile("words", {"high", "", "1"}));
    scan();
    EXPECT_EQ(rows(), QStringList({"blanks|42|1|One", "letters|41|1|One", "half|4|2|Two",
                                   "words|1|3|Three"}));
}

TEST_F(GetScoresTest, AFileWithAnOverflowingLevelIsSkippedAndReported) {
    folder.write("accounts/a.ini", accountFile("fine", {"10", "0", "0"}));
    folder.write("accounts/b.ini", accountFile("huge", {"1", "2147483648", "0"}));
    folder.write("accounts/c.ini", "[CHAR3]\nLevel=-99999999999\n"); // no login, still reported
    folder.write("accounts/d.ini", accountFile("later", {"20", "0", "0"}));
    const ScanReport report = scan();
    EXPECT_EQ(rows(), QStringList({"later|20|1|One", "fine|10|1|One"}));
    ASSERT_EQ(report.skipped.size(), 2u);
    EXPECT_EQ(report.skipped[0].name, "b.ini");
    EXPECT_EQ(report.skipped[1].name, "c.ini");
}

TEST_F(GetScoresTest, LoginsAreKeptAsReadAndNamesTrimmedOfSpaces) {
    folder.write("accounts/a.ini",
                 "[GENERAL]\nLogin=\" spaced \"\n[CHAR1]\nLevel=3\nName=\"  Sir Tom  \"\n");
    folder.write("accounts/b.ini", "[GENERAL]\nLogin=\n[CHAR1]\nLevel=99\n");
    folder.write("accounts/c.ini", "[CHAR1]\nLevel=98\n[GENERAL]\nUser=x\n");
    folder.write("accounts/d.ini", accountFile("twin", {"2", "0", "0"}));
    folder.write("accounts/e.ini", accountFile("twin", {"1", "0", "0"}));
    scan();
    EXPECT_EQ(rows(), QStringList({" spaced |3|1|Sir Tom", "twin|2|1|One", "twin|1|1|One"}));
}

TEST_F(GetScoresTest, EqualLevelsKeepFileNameOrder) {
    for (const char *name : {"d", "b", "C", "a"})
        folder.write(QStringLiteral("accounts/%1.ini").arg(name),
                     accountFile(name, {"7", "0", "0"}));
    scan();
    EXPECT_EQ(columnTexts(list, 0), QStringList({"a", "b", "C", "d"}));
}

TEST_F(GetScoresTest, AnEmptyOrMissingFolderGivesAnEmptySortedList) {
    scan();
    EXPECT_EQ(list.listItems().Count(), 0);
    EXPECT_TRUE(list.isSorted());
    folder.mkdir("accounts/onlyfolders.ini");
    scan();
    EXPECT_EQ(list.listItems().Count(), 0);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(GetScoresTest, ReachesTheFolderWhateverItsLetterCase) {
    folder.write("ACCOUNTS/a.ini", accountFile("upper", {"1", "0", "0"}));
    scan();
    EXPECT_EQ(rows(), QStringList({"upper|1|1|One"}));
}

TEST(AccountRules, LevelTextIsPlainDecimal) {
    for (int32_t level : {0, 7, 120, -3, 2147483647, -2147483647 - 1})
        EXPECT_EQ(levelTextWithRoom(level), QString::number(level));
}
