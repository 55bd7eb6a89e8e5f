#include "listhelpers.h"
#include "listsort/sortlistcolumn.h"
#include "recordingmessagebox.h"

#include <QDate>
#include <gtest/gtest.h>

using namespace orvantis;

namespace {

class SortListColumnTest : public ::testing::Test {
protected:
    // Rows "r1", "r2", … with the given texts in sub-item 1.
    void fillLevels(const QStringList &levels) {
        for (int i = 0; i < levels.size(); ++i)
            addRows(list, {{QStringLiteral("r%1").arg(i + 1), levels[i]}});
    }
    bool sort(short column, short type, short direction) {
        return SortListColumn(list, column, type, direction, environment);
    }
    // Records every visibility change of the list.
    void watchVisibility() {
        list.setChangeHandler([this](ReportList::Change c) {
            if (c == ReportList::Change::Visibility)
                visibility.push_back(list.Visible());
        });
    }

    ReportList list{fourColumns()};
    RecordingMessageBox messages;
    SortEnvironment environment{messages, QLocale::c()};
    std::vector<bool> visibility;
};

} // namespace

TEST_F(SortListColumnTest, NumberModeSortsTheWorkedExampleBothWays) {
    fillLevels({"7", "12", "", "3.5"});
    watchVisibility();
    EXPECT_TRUE(sort(2, SortNumber, SortAscending));
    EXPECT_EQ(columnTexts(list, 1), QStringList({"", "3.5", "7", "12"}));
    EXPECT_EQ(visibility, (std::vector<bool>{false, true}));

    EXPECT_TRUE(sort(2, SortNumber, SortDescending));
    EXPECT_EQ(columnTexts(list, 1), QStringList({"12", "7", "3.5", ""}));
    EXPECT_EQ(columnTexts(list, 0), QStringList({"r2", "r1", "r4", "r3"}));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(SortListColumnTest, NumberModeOrdersNegativesAndWritesThemBackPlain) {
    fillLevels({"12", "-3", "7", "", "-7"});
    EXPECT_TRUE(sort(2, SortNumber, SortDescending));
    EXPECT_EQ(columnTexts(list, 1), QStringList({"12", "7", "", "-3", "-7"}));
    EXPECT_TRUE(sort(2, SortNumber, SortAscending));
    EXPECT_EQ(columnTexts(list, 1), QStringList({"-7", "-3", "", "7", "12"}));
    EXPECT_TRUE(list.Visible());
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(SortListColumnTest, NumberModeWritesGeneralFormAndZeroAsEmpty) {
    fillLevels({"12.50", "007", "0", "0.0", "", "3.25", "3.5", "9", "10", "-0.5", "-0.25"});
    EXPECT_TRUE(sort(2, SortNumber, SortAscending));
    EXPECT_EQ(columnTexts(list, 1),
              QStringList({"-0.5", "-0.25", "", "", "", "3.25", "3.5", "7", "9", "10", "12.5"}));
}

TEST_F(SortListColumnTest, NumberModeWritesAsciiDigitsInEveryLocale) {
    // Cells in the locale's own script, or in ASCII, come back in ASCII with the locale's
    // decimal separator; the failure text is the same everywhere.
    const struct {
        const char *locale;
        QStringList cells, sorted;
    } cases[] = {
        {"de_DE", {"12,50", "007", "-3", ""}, {"12,5", "7", "", "-3"}},
        {"sv_SE", {"12,50", "\u22123", "7"}, {"12,5", "7", "-3"}},
        {"ar_EG", {"\u0664\u0660\u0660", "12\u066B5", "-3"}, {"400", "12\u066B5", "-3"}},
        {"hi_IN", {"9", "10", "2.5"}, {"10", "9", "2.5"}},
    };
    for (const auto &c : cases) {
        ReportList rows(fourColumns());
        for (const QString &cell : c.cells)
            addRows(rows, {{QStringLiteral("r"), cell}});
        const SortEnvironment there{messages, QLocale(QString::fromLatin1(c.locale))};
        EXPECT_TRUE(SortListColumn(rows, 2, SortNumber, SortDescending, there)) << c.locale;
        EXPECT_EQ(columnTexts(rows, 1), c.sorted) << c.locale;

        addRows(rows, {{QStringLiteral("r"), QStringLiteral("abc")}});
        EXPECT_FALSE(SortListColumn(rows, 2, SortNumber, SortDescending, there));
        ASSERT_FALSE(messages.shown.empty());
        EXPECT_EQ(messages.shown.back().text, "Type mismatch: \"abc\" is not a number (13)")
            << c.locale;
    }
}

TEST_F(SortListColumnTest, ANonNumberIsReportedAndChangesNothing) {
    fillLevels({"5", "abc", "12"});
    watchVisibility();
    EXPECT_FALSE(sort(2, SortNumber, SortDescending));
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].title, "ListView Sort module Error");
    EXPECT_EQ(messages.shown[0].style, kCritical);
    EXPECT_EQ(messages.shown[0].text, "Type mismatch: \"abc\" is not a number (13)");
    EXPECT_EQ(columnTexts(list, 1), QStringList({"5", "abc", "12"}));
    EXPECT_TRUE(visibility.empty()) << "met while reading, before the list is hidden";
    EXPECT_TRUE(list.Visible());
    EXPECT_FALSE(list.isSorted());
}

TEST_F(SortListColumnTest, AFailureOfTheListPutsEveryKeyCellBack) {
    fillLevels({"5", "12"});
    // Column 0 would rewrite the row texts, but the list refuses its sort key, -1, and that is
    // checked before any cell is touched.
    list.listItems().Item(1).SetText("9");
    list.listItems().Item(2).SetText("10");
    EXPECT_FALSE(sort(0, SortNumber, SortAscending));
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, "Invalid property value (380)");
    EXPECT_EQ(columnTexts(list, 0), QStringList({"9", "10"}));
    EXPECT_TRUE(list.Visible());
}

TEST_F(SortListColumnTest, ASortKeyBeyondSixteenBitsIsAnOverflow) {
    fillLevels({"5", "12"});
    EXPECT_FALSE(sort(-32768, SortNumber, SortAscending)); // its key, -32769, does not fit
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, "Overflow (6)");
    EXPECT_EQ(columnTexts(list, 1), QStringList({"5", "12"}));
}

TEST_F(SortListColumnTest, ACopyOfACellTakenBeforeASortKeepsItsText) {
    // The scan makes level cells with room to spare, which the sort rewrites in place; a copy
    // that shares the cell's text must not see that.
    for (const char *level : {"7", "12", "-3"}) {
        QString cell;
        cell.reserve(16);
        cell += QLatin1String(level);
        addRows(list, {{QStringLiteral("r"), cell}});
    }
    const QString before = list.cell(0, 1);
    EXPECT_TRUE(sort(2, SortNumber, SortDescending));
    EXPECT_EQ(before, "7");
    EXPECT_EQ(columnTexts(list, 1), QStringList({"12", "7", "-3"}));
}

TEST_F(SortListColumnTest, AKeyColumnTheRowsDoNotHaveIsReported) {
    fillLevels({"5"});
    EXPECT_FALSE(sort(9, SortNumber, SortAscending));
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_TRUE(list.Visible());
}

TEST_F(SortListColumnTest, ColumnOneSortsOnTheRowTextAndTwoOnTheFirstSubItem) {
    addRows(list, {{"b", "1"}, {"c", "3"}, {"a", "2"}});
    EXPECT_TRUE(sort(1, SortText, SortAscending));
    EXPECT_EQ(columnTexts(list, 0), QStringList({"a", "b", "c"}));
    EXPECT_EQ(list.sortKey(), 0);
    EXPECT_TRUE(sort(2, SortText, SortDescending));
    EXPECT_EQ(columnTexts(list, 0), QStringList({"c", "a", "b"}));
    EXPECT_EQ(list.sortKey(), 1);
}

TEST_F(SortListColumnTest, TextModeNeitherHidesNorRewrites) {
    fillLevels({"10", "9", "0"});
    watchVisibility();
    EXPECT_TRUE(sort(2, SortText, SortAscending));
    EXPECT_EQ(columnTexts(list, 1), QStringList({"0", "10", "9"}));
    EXPECT_TRUE(visibility.empty());
}

TEST_F(SortListColumnTest, AnUnknownDataTypeDoesNothing) {
    fillLevels({"2", "1"});
    watchVisibility();
    EXPECT_TRUE(sort(2, 5, SortAscending));
    EXPECT_EQ(columnTexts(list, 1), QStringList({"2", "1"}));
    EXPECT_FALSE(list.isSorted());
    EXPECT_TRUE(visibility.empty());
}

TEST_F(SortListColumnTest, AnUnknownDirectionKeepsThePreviousOrder) {
    fillLevels({"1", "3", "2"});
    EXPECT_TRUE(sort(2, SortNumber, SortDescending));
    EXPECT_TRUE(sort(2, SortNumber, 0));
    EXPECT_EQ(list.sortOrder(), 1);
    EXPECT_EQ(columnTexts(list, 1), QStringList({"3", "2", "1"}));
}

TEST_F(SortListColumnTest, AnEmptyListIsHiddenShownAndGetsItsSortSettings) {
    for (short type : {SortNumber, SortDate}) {
        visibility.clear();
        watchVisibility();
        EXPECT_TRUE(sort(3, type, SortDescending));
        EXPECT_EQ(visibility, (std::vector<bool>{false, true}));
        EXPECT_EQ(list.sortKey(), 2);
        EXPECT_EQ(list.sortOrder(), 1);
        EXPECT_TRUE(list.isSorted());
    }
}

TEST_F(SortListColumnTest, SortsFortyThousandRowsInNumberAndDateMode) {
    const int rows = 40000;
    for (int i = 0; i < rows; ++i)
        addRows(list, {{QString::number(i), QString::number((i * 7919) % rows),
                        QDate(2000, 1, 1).addDays((i * 7919) % rows).toString("yyyy-MM-dd")}});
    EXPECT_TRUE(sort(2, SortNumber, SortDescending));
    EXPECT_EQ(list.cell(0, 1), QString::number(rows - 1));
    EXPECT_EQ(list.cell(rows - 2, 1), "1");
    EXPECT_EQ(list.cell(rows - 1, 1), "");

    EXPECT_TRUE(sort(3, SortDate, SortAscending));
    EXPECT_EQ(list.cell(0, 2), "1 Jan 2000");
    EXPECT_EQ(list.cell(rows - 1, 2), QDate(2000, 1, 1).addDays(rows - 1).toString("d MMM yyyy"));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(SortListColumnTest, DateModeWritesEveryCellInGeneralDateForm) {
    environment.locale = QLocale(QLocale::German, QLocale::Germany);
    fillLevels({"2024-03-05 14:30:00", "05.03.2024", "", "08:15", "1.2.2023 9:00"});
    EXPECT_TRUE(sort(2, SortDate, SortAscending));
    EXPECT_EQ(columnTexts(list, 1), QStringList({"", "08:15:00", "01.02.2023 09:00:00",
                                                 "05.03.2024", "05.03.2024 14:30:00"}));
    EXPECT_TRUE(sort(2, SortDate, SortDescending));
    EXPECT_EQ(columnTexts(list, 1), QStringList({"05.03.2024 14:30:00", "05.03.2024",
                                                 "01.02.2023 09:00:00", "08:15:00", ""}));
}

TEST_F(SortListColumnTest, ANonDateIsReportedBeforeAnyCellChanges) {
    fillLevels({"2024-03-05", "soon", "2023-01-01"});
    watchVisibility();
    EXPECT_FALSE(sort(2, SortDate, SortAscending));
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, "Type mismatch: \"soon\" is not a date or time (13)");
    EXPECT_EQ(columnTexts(list, 1), QStringList({"2024-03-05", "soon", "2023-01-01"}));
    EXPECT_EQ(visibility, (std::vector<bool>{false, true}));
}
