#include "formats/accountranking.h"
#include "qtprinters.h"
#include "scan/accounts/accountcells.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace orvantis;

namespace {

// Records as a scan leaves them, with cells that need care in every format.
class RankingFormats : public ::testing::Test {
protected:
    void SetUp() override {
        records.add(0, 42, 1, u"plain", u"Hero");
        records.add(1, 7, 2, u"comma,login", u"say \"hi\"");
        records.add(2, 0, 0, u"tab\there", u"line\nbreak\r\nand return");
        records.add(3, -3, 3, QString::fromUtf8("Ünïcødé \x01\x1b"), u"");
    }
    QByteArray rankingText(RankingFormat format = RankingFormat::Tsv, int top = -1,
                           CellText cellText = CellText::AsIs) const {
        return orvantis::rankingText(records, nullptr, format, top, cellText);
    }
    QString cell(int row, int column) const {
        QString scratch;
        return recordCell(records, static_cast<size_t>(row), column, scratch).toString();
    }
    AccountRecords records;
};

} // namespace

TEST_F(RankingFormats, TsvIsOneLinePerRowWithTabsAndLineBreaksInCellsAsSpaces) {
    EXPECT_EQ(QString::fromUtf8(rankingText()),
              QString::fromUtf8("plain\t42\t1\tHero\n"
                                "comma,login\t7\t2\tsay \"hi\"\n"
                                "tab here\t\tX\tline break  and return\n"
                                "Ünïcødé \x01\x1b\t-3\t3\t\n"));
}

TEST_F(RankingFormats, CsvQuotesTheFieldsThatNeedItAndHasAHeader) {
    EXPECT_EQ(QString::fromUtf8(rankingText(RankingFormat::Csv)),
              QString::fromUtf8("Username,Highest Level,Char No.,Char Name\r\n"
                                "plain,42,1,Hero\r\n"
                                "\"comma,login\",7,2,\"say \"\"hi\"\"\"\r\n"
                                "tab\there,,X,\"line\nbreak\r\nand return\"\r\n"
                                "Ünïcødé \x01\x1b,-3,3,\r\n"));
}

// A player's login or name that a spreadsheet would run as a formula is shown as text in CSV,
// a level below zero stays a number, and the formats for scripts keep every name as it is.
TEST_F(RankingFormats, CsvGivesASpreadsheetNoPlayersFormula) {
    AccountRecords hostile;
    hostile.add(0, 9, 1, u"=HYPERLINK(\"http://x\",\"y\")", u"=1+1");
    hostile.add(1, 8, 2, u"+cmd|' /C calc'!A0", u"@SUM(A1)");
    hostile.add(2, -5, 3, u"-2+3", u"\tlead");
    hostile.add(3, 1, 1, u"\rreturn", u"a=b");
    EXPECT_EQ(QString::fromUtf8(
                  orvantis::rankingText(hostile, nullptr, RankingFormat::Csv, -1, CellText::AsIs)),
              QString::fromUtf8("Username,Highest Level,Char No.,Char Name\r\n"
                                "\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\",9,1,'=1+1\r\n"
                                "'+cmd|' /C calc'!A0,8,2,'@SUM(A1)\r\n"
                                "'-2+3,-5,3,'\tlead\r\n"
                                "\"'\rreturn\",1,1,a=b\r\n"));
    EXPECT_TRUE(orvantis::rankingText(hostile, nullptr, RankingFormat::Tsv, -1, CellText::AsIs)
                    .startsWith("=HYPERLINK(\"http://x\",\"y\")\t9\t1\t=1+1\n"));
    EXPECT_TRUE(orvantis::rankingText(hostile, nullptr, RankingFormat::Json, -1, CellText::AsIs)
                    .contains("\"login\": \"=HYPERLINK(\\\"http://x\\\",\\\"y\\\")\""));
}

TEST_F(RankingFormats, JsonIsAnArrayOfObjectsWithLevelsAsNumbers) {
    QJsonParseError error{};
    const QJsonDocument document =
        QJsonDocument::fromJson(rankingText(RankingFormat::Json), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    const QJsonArray rows = document.array();
    ASSERT_EQ(rows.size(), 4);
    for (int row = 0; row < 4; ++row) {
        const QJsonObject object = rows[row].toObject();
        EXPECT_EQ(object.keys(), QStringList({"level", "login", "name", "slot"}));
        EXPECT_EQ(object["login"].toString(), cell(row, 0));
        EXPECT_TRUE(object["level"].isDouble());
        EXPECT_EQ(object["level"].toInt(), cell(row, 1).toInt()) << "an empty level is 0";
        EXPECT_EQ(object["slot"].toString(), cell(row, 2));
        EXPECT_EQ(object["name"].toString(), cell(row, 3));
    }
}

// Rows of any cells, tied levels and ranks, to hold the JSON to the bytes Qt's JSON writer gives.
class AnyRows : public RankingRows {
public:
    struct Row {
        QString login, slot, name;
        int64_t level;
        std::optional<int32_t> tied;
    };
    AnyRows(std::vector<Row> rows, bool ranked) : rows_(std::move(rows)), ranked_(ranked) {}
    int count() const override { return static_cast<int>(rows_.size()); }
    QStringList columnTitles() const override { return {"Username", "Level", "Slot", "Name"}; }
    QStringView cell(int row, int column, QString &scratch) const override {
        const Row &r = rows_[static_cast<size_t>(row)];
        scratch = column == 0 ? r.login : column == 2 ? r.slot : column == 3 ? r.name : QString();
        return scratch;
    }
    int64_t level(int row) const override { return rows_[static_cast<size_t>(row)].level; }
    bool playersText(int column) const override { return column == 0 || column == 3; }
    std::optional<int32_t> tiedLevel(int row) const override {
        return rows_[static_cast<size_t>(row)].tied;
    }
    bool ranked() const override { return ranked_; }
    int64_t rank(int row) const override { return 1000 + row; }

    QByteArray asQtWritesIt() const {
        QJsonArray array;
        for (int row = 0; row < count(); ++row) {
            const Row &r = rows_[static_cast<size_t>(row)];
            QJsonObject object{{"login", r.login},
                               {"level", static_cast<qint64>(r.level)},
                               {"slot", r.slot},
                               {"name", r.name}};
            if (r.tied)
                object.insert("tiedLevel", *r.tied);
            if (ranked_)
                object.insert("rank", static_cast<qint64>(rank(row)));
            array.append(object);
        }
        return QJsonDocument(array).toJson(QJsonDocument::Indented);
    }

private:
    std::vector<Row> rows_;
    bool ranked_;
};

TEST(RankingJson, IsByteForByteWhatQtsJsonWriterGives) {
    QString controls;
    for (char16_t c = 0; c < 0x20; ++c)
        controls += QChar(c);
    const std::vector<AnyRows::Row> rows = {
        {controls + "\"\\/\x7f", "1", "plain", 2147483647, std::nullopt},
        {QString::fromUtf16(u"\u00e9\u20ac\U0001F600\u2028\u202e"), "X", "", 0, 293},
        {QString(QChar(0xD800)) + "lone" + QChar(0xDC00), "3", QString(QChar(0xDBFF)), -7, 0},
    };
    for (const bool ranked : {false, true}) {
        const AnyRows list(rows, ranked);
        EXPECT_EQ(rankingText(list, RankingFormat::Json, -1, CellText::AsIs), list.asQtWritesIt());
        EXPECT_EQ(rankingText(list, RankingFormat::Json, 1, CellText::AsIs),
                  AnyRows({rows[0]}, ranked).asQtWritesIt());
    }
    EXPECT_EQ(rankingText(AnyRows({}, false), RankingFormat::Json, -1, CellText::AsIs),
              AnyRows({}, false).asQtWritesIt());
}

TEST_F(RankingFormats, TopTakesTheFirstRowsInEveryFormat) {
    EXPECT_EQ(rankingText(RankingFormat::Tsv, 1), "plain\t42\t1\tHero\n");
    EXPECT_EQ(rankingText(RankingFormat::Csv, 0), "Username,Highest Level,Char No.,Char Name\r\n");
    EXPECT_EQ(QJsonDocument::fromJson(rankingText(RankingFormat::Json, 2)).array().size(), 2);
    EXPECT_EQ(rankingText(RankingFormat::Tsv, 99), rankingText());
    EXPECT_EQ(rankingFormatNamed("json"), RankingFormat::Json);
    EXPECT_EQ(rankingFormatNamed("JSON"), std::nullopt);
}

TEST_F(RankingFormats, ForATerminalEveryFormatEscapesTheCellsControlCharacters) {
    records.add(4, 5, 1, QStringLiteral("evil\x1b]0;pwned\x07"),
                QString(QChar(0x9b)) + QStringLiteral("2J\x7f"));
    for (RankingFormat format : {RankingFormat::Tsv, RankingFormat::Csv, RankingFormat::Json}) {
        const QByteArray text = rankingText(format, -1, CellText::ControlsEscaped);
        const QString decoded = QString::fromUtf8(text);
        for (const QChar c : decoded) {
            const char16_t u = c.unicode();
            const bool layout =
                u == u'\t' || u == u'\n' || (u == u'\r' && format == RankingFormat::Csv);
            EXPECT_FALSE(!layout && (u < 0x20 || u == 0x7F || (u >= 0x80 && u <= 0x9F)))
                << "raw U+" << std::hex << u << " in format " << int(format);
        }
        EXPECT_TRUE(decoded.contains(QStringLiteral("evil\\x1b]0;pwned\\x07")) ||
                    decoded.contains(QStringLiteral("evil\\\\x1b]0;pwned\\\\x07"))) // JSON
            << decoded.toStdString();
    }
    EXPECT_EQ(QString::fromUtf8(rankingText(RankingFormat::Tsv, 4, CellText::ControlsEscaped)),
              QString::fromUtf8("plain\t42\t1\tHero\n"
                                "comma,login\t7\t2\tsay \"hi\"\n"
                                "tab\\x09here\t\tX\tline\\x0abreak\\x0d\\x0aand return\n"
                                "Ünïcødé \\x01\\x1b\t-3\t3\t\n"));
    // As it is, the bytes are those of every other output.
    EXPECT_EQ(rankingText(RankingFormat::Csv, -1, CellText::AsIs), rankingText(RankingFormat::Csv));
}
