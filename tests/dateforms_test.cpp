#include "listsort/dateforms.h"
#include "qtprinters.h"

#include <gtest/gtest.h>

using namespace orvantis;

namespace {
const QLocale us(QLocale::English, QLocale::UnitedStates);
const QLocale de(QLocale::German, QLocale::Germany);

DateTimeValue at(int y, int m, int d, int h = 0, int min = 0, int s = 0) {
    return {QDate(y, m, d), QTime(h, min, s)};
}
} // namespace

TEST(DateForms, ReadsTheLocaleShortFormsIsoAndTheSortForm) {
    EXPECT_EQ(readDateTime("3/5/2024", us), at(2024, 3, 5));
    EXPECT_EQ(readDateTime("3/5/24", us), at(2024, 3, 5));
    EXPECT_EQ(readDateTime("3/5/45", us), at(1945, 3, 5));
    EXPECT_EQ(readDateTime("3/5/2024 2:30 PM", us), at(2024, 3, 5, 14, 30));
    EXPECT_EQ(readDateTime("05.03.2024 14:30:15", de), at(2024, 3, 5, 14, 30, 15));
    EXPECT_EQ(readDateTime("2024-03-05", de), at(2024, 3, 5));
    EXPECT_EQ(readDateTime("2024-03-05T14:30:15", us), at(2024, 3, 5, 14, 30, 15));
    EXPECT_EQ(readDateTime("2024 03 05 14:30:15", us), at(2024, 3, 5, 14, 30, 15));
}

TEST(DateForms, ATimeAloneFallsOnDayZero) {
    EXPECT_EQ(readDateTime("14:30", de), at(1899, 12, 30, 14, 30));
    EXPECT_EQ(readDateTime("2:30:05 PM", us), at(1899, 12, 30, 14, 30, 5));
}

TEST(DateForms, RejectsTextThatIsNoDate) {
    for (const char *text : {"", "   ", "tomorrow", "2024-13-01", "31/31/2024", "25:00"})
        EXPECT_FALSE(readDateTime(text, us).has_value()) << text;
}

TEST(DateForms, SortFormIsFixedWidthAndChronological) {
    EXPECT_EQ(sortableDateTime(at(2024, 3, 5, 9, 7, 1)), "2024 03 05 09:07:01");
    EXPECT_EQ(sortableDateTime(at(987, 12, 31)), "0987 12 31 00:00:00");
    EXPECT_LT(sortableDateTime(at(1999, 12, 31, 23, 59, 59)), sortableDateTime(at(2000, 1, 1)));
}

TEST(DateForms, GeneralDateShowsOnlyThePartsAValueHas) {
    EXPECT_EQ(generalDate(at(2024, 3, 5, 14, 30, 15), de), "05.03.2024 14:30:15");
    EXPECT_EQ(generalDate(at(2024, 3, 5), de), "05.03.2024");
    EXPECT_EQ(generalDate(at(1899, 12, 30, 14, 30), de), "14:30:00");
    EXPECT_EQ(generalDate(at(2024, 3, 5, 14, 30, 15), us), "3/5/2024 2:30:15 PM");
    // What it writes, it reads back.
    for (const DateTimeValue &v : {at(2024, 3, 5, 14, 30, 15), at(2024, 3, 5), at(1899, 12, 30, 8)})
        for (const QLocale &l : {us, de, QLocale::c()})
            EXPECT_EQ(readDateTime(generalDate(v, l), l), v) << generalDate(v, l).toStdString();
}
