#include "listhelpers.h"
#include "platform/failure.h"
#include "platform/textcompare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

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
    list.setChangeHandler(
        [&](ReportList::Change c) { rowChanges += c == ReportList::Change::Rows; });
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

namespace {

// Sorts rows whose sub-item 1 holds `keys` and whose texts are "0", "1", … (where each was
// added); returns the row texts in their new order.
QStringList sortedRows(const QStringList &keys, int order) {
    ReportList list(fourColumns());
    for (int i = 0; i < keys.size(); ++i)
        addRows(list, {{QString::number(i), keys[i]}});
    list.setSortOrder(order);
    list.setSortKey(1);
    list.setSorted(true);
    return columnTexts(list, 0);
}

// The order the list must give: a stable sort of the keys on their case-folded text.
QStringList expectedRowOrder(const QStringList &keys, bool descending) {
    std::vector<int> order(static_cast<size_t>(keys.size()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const int c = compareIgnoringCase(keys[a], keys[b]);
        return descending ? c > 0 : c < 0;
    });
    QStringList rows;
    for (int i : order)
        rows << QString::number(i);
    return rows;
}

} // namespace

TEST(ReportList, SortKeepsTheOrderOfHundredsOfEqualKeys) {
    // Small inputs are sorted stably by any library sort; hundreds of equal keys are not.
    QStringList keys;
    for (int i = 0; i < 600; ++i)
        keys << QStringLiteral("key%1").arg((i * 7) % 3);
    for (int order : {0, 1})
        EXPECT_EQ(sortedRows(keys, order), expectedRowOrder(keys, order == 1)) << "order " << order;
}

TEST(ReportList, SortOrdersLongAndNonAsciiKeysAsTheirFoldedText) {
    // Keys that share their first eight characters, keys with letters beyond ASCII or a NUL in
    // them, mixed with plain short ones: every path of the row comparison meets every other.
    const QStringList pieces = {"abcdefgh", "ABCDEFGH",        "abcdefgi", "é", "É", "z",   "Z",
                                "a",        QString(QChar(0)), "ß",        "0", "~", "abc", "日本"};
    QStringList keys;
    uint32_t seed = 12345;
    for (int i = 0; i < 400; ++i) {
        QString key;
        for (int n = 0; n < 1 + i % 3; ++n) {
            seed = seed * 1103515245u + 12345u;
            key += pieces[static_cast<int>((seed >> 16) % pieces.size())];
        }
        keys << key;
    }
    for (int order : {0, 1})
        EXPECT_EQ(sortedRows(keys, order), expectedRowOrder(keys, order == 1)) << "order " << order;
}
