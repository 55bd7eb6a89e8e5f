#include "console/ranking.h"
#include "listhelpers.h"
#include "scan/reportcolumns.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace orvantis;

namespace {

// Rows as a scan leaves them, with cells that need care in every format.
class RankingFormats : public ::testing::Test {
protected:
    void SetUp() override {
        addRows(list, {{"plain", "42", "1", "Hero"},
                       {"comma,login", "7", "2", "say \"hi\""},
                       {"tab\there", "", "X", "line\nbreak\r\nand return"},
                       {QString::fromUtf8("Ünïcødé \x01\x1b"), "-3", "3", ""}});
    }
    ReportList list{reportColumnTitles()};
};

} // namespace

TEST_F(RankingFormats, TsvIsOneLinePerRowWithTabsAndLineBreaksInCellsAsSpaces) {
    EXPECT_EQ(QString::fromUtf8(rankingText(list)),
              QString::fromUtf8("plain\t42\t1\tHero\n"
                                "comma,login\t7\t2\tsay \"hi\"\n"
                                "tab here\t\tX\tline break  and return\n"
                                "Ünïcødé \x01\x1b\t-3\t3\t\n"));
}

TEST_F(RankingFormats, CsvQuotesTheFieldsThatNeedItAndHasAHeader) {
    EXPECT_EQ(QString::fromUtf8(rankingText(list, RankingFormat::Csv)),
              QString::fromUtf8("Username,Highest Level,Char No.,Char Name\r\n"
                                "plain,42,1,Hero\r\n"
                                "\"comma,login\",7,2,\"say \"\"hi\"\"\"\r\n"
                                "tab\there,,X,\"line\nbreak\r\nand return\"\r\n"
                                "Ünïcødé \x01\x1b,-3,3,\r\n"));
}

TEST_F(RankingFormats, JsonIsAnArrayOfObjectsWithLevelsAsNumbers) {
    QJsonParseError error{};
    const QJsonDocument document =
        QJsonDocument::fromJson(rankingText(list, RankingFormat::Json), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    const QJsonArray rows = document.array();
    ASSERT_EQ(rows.size(), 4);
    for (int row = 0; row < 4; ++row) {
        const QJsonObject object = rows[row].toObject();
        EXPECT_EQ(object.keys(), QStringList({"level", "login", "name", "slot"}));
        EXPECT_EQ(object["login"].toString(), list.cell(row, 0));
        EXPECT_TRUE(object["level"].isDouble());
        EXPECT_EQ(object["level"].toInt(), list.cell(row, 1).toInt()) << "an empty level is 0";
        EXPECT_EQ(object["slot"].toString(), list.cell(row, 2));
        EXPECT_EQ(object["name"].toString(), list.cell(row, 3));
    }
}

TEST_F(RankingFormats, TopTakesTheFirstRowsInEveryFormat) {
    EXPECT_EQ(rankingText(list, RankingFormat::Tsv, 1), "plain\t42\t1\tHero\n");
    EXPECT_EQ(rankingText(list, RankingFormat::Csv, 0),
              "Username,Highest Level,Char No.,Char Name\r\n");
    EXPECT_EQ(QJsonDocument::fromJson(rankingText(list, RankingFormat::Json, 2)).array().size(), 2);
    EXPECT_EQ(rankingText(list, RankingFormat::Tsv, 99), rankingText(list));
    EXPECT_EQ(rankingFormatNamed("json"), RankingFormat::Json);
    EXPECT_EQ(rankingFormatNamed("JSON"), std::nullopt);
}
