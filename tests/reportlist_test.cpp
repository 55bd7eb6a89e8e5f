#include "listhelpers.h"
#include "platform/failure.h"

#include <gtest/gtest.h>

using namespace orvantis;

TEST(ReportList, AddsRowsAtPositionsWithEmptySubItems) {
    ReportList list(fourColumns());
    list.listItems().Add(1, "b");
    list.listItems().Add(1, "a"); // in front
    list.listItems().Add(3, "c"); // at the end
    ASSERT_EQ(list.listItems().Count(), 3);
    EXPECT_EQ(columnTexts(list, 0), QStringList({"a", "b", "c"}));
    EXPECT_EQ(list.listItems().Item(2).SubItems(3), QString());

    ListItem row = list.listItems().Item(2);
    row.SetSubItems(2, "X");
    EXPECT_EQ(row.ListSubItems(2).Text(), "X");
    row.ListSubItems(1).SetText("17");
    EXPECT_EQ(row.SubItems(1), "17");
    EXPECT_EQ(list.cell(1, 1), "17");
}

TEST(ReportList, RejectsPositionsAndColumnsItDoesNotHave) {
    ReportList list(fourColumns());
    EXPECT_THROW(list.listItems().Add(2, "x"), Failure);
    list.listItems().Add(1, "x");
    EXPECT_THROW(list.listItems().Item(0), Failure);
    EXPECT_THROW(list.listItems().Item(2), Failure);
    EXPECT_THROW(list.listItems().Item(1).SubItems(4), Failure);
    EXPECT_THROW(list.listItems().Item(1).ListSubItems(0), Failure);
    EXPECT_THROW(list.setSortKey(4), Failure);
    EXPECT_THROW(list.setSortKey(-1), Failure);
}

TEST(ReportList, ClearRemovesEveryRowAndKeepsTheHeaders) {
    ReportList list(fourColumns());
    int rowChanges = 0;
    list.setChangeHandler([&](ReportList::Change c) { rowChanges += c == ReportList::Change::Rows; });
    list.listItems().Clear();
    EXPECT_EQ(rowChanges, 0) << "clearing an empty list changes nothing";

    addRows(list, {{"a", "1"}, {"b", "2"}});
    list.listItems().Clear();
    EXPECT_EQ(list.listItems().Count(), 0);
    EXPECT_EQ(list.columnHeaders(), fourColumns());
}

TEST(ReportList, SortedFlagSortsAtOnceOnTheKeyColumnIgnoringCase) {
    ReportList list(fourColumns());
    addRows(list, {{"carol", "b"}, {"alice", "C"}, {"Bob", "a"}});
    list.setSortKey(0);
    list.setSorted(true);
    EXPECT_EQ(columnTexts(list, 0), QStringList({"alice", "Bob", "carol"}));

    list.setSortKey(1);
    list.setSortOrder(1);
    list.setSorted(true); // already set: sorts again
    EXPECT_EQ(columnTexts(list, 1), QStringList({"C", "b", "a"}));
}

TEST(ReportList, SortKeepsTheOrderOfEqualKeysBothWays) {
    ReportList list(fourColumns());
    addRows(list, {{"r1", "5"}, {"r2", "7"}, {"r3", "5"}, {"r4", "7"}, {"r5", "5"}});
    list.setSortKey(1);
    list.setSorted(true);
    EXPECT_EQ(columnTexts(list, 0), QStringList({"r1", "r3", "r5", "r2", "r4"}));
    list.setSortOrder(1);
    list.setSorted(true);
    EXPECT_EQ(columnTexts(list, 0), QStringList({"r2", "r4", "r1", "r3", "r5"}));
}

TEST(ReportList, WritingACellNeverMovesItsRow) {
    ReportList list(fourColumns());
    addRows(list, {{"a"}, {"b"}, {"c"}});
    list.setSortKey(0);
    list.setSorted(true);
    list.listItems().Item(1).SetText("zzz");
    list.listItems().Add(4, "aaa");
    EXPECT_EQ(columnTexts(list, 0), QStringList({"zzz", "b", "c", "aaa"}));
}

TEST(ReportList, TellsItsViewOfRowsAndVisibilityButNotOfAnUnchangedFlag) {
    ReportList list(fourColumns());
    std::vector<ReportList::Change> changes;
    list.setChangeHandler([&](ReportList::Change c) { changes.push_back(c); });
    list.setSorted(true); // empty: nothing to re-order
    list.SetVisible(true);
    EXPECT_TRUE(changes.empty());
    list.SetVisible(false);
    addRows(list, {{"b"}, {"a"}});
    changes.clear();
    list.setSorted(true);
    EXPECT_EQ(changes, std::vector<ReportList::Change>{ReportList::Change::Rows});
}
