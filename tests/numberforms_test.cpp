#include "listsort/numberforms.h"
#include "qtprinters.h"
#include "platform/failure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace orvantis;

TEST(NumberForms, ReadsPlainNumbersAndOrdinaryDecimals) {
    const QLocale c = QLocale::c();
    EXPECT_EQ(ReadNumber("15", c), 15);
    EXPECT_EQ(ReadNumber("-3", c), -3);
    EXPECT_EQ(ReadNumber("12.50", c), 12.5);
    EXPECT_EQ(ReadNumber("007", c), 7);
    EXPECT_EQ(ReadNumber("3,5", QLocale(QLocale::German)), 3.5);
}

TEST(NumberForms, RejectsWhatIsNotANumberAsTypeMismatch) {
    const QLocale c = QLocale::c();
    for (const char *text : {"abc", "12abc", "1,000", "inf", "nan", "1e999", "--1"}) {
        try {
            ReadNumber(text, c);
            ADD_FAILURE() << text << " was read as a number";
        } catch (const Failure &f) {
            EXPECT_EQ(f.number(), kTypeMismatch) << text;
            EXPECT_TRUE(f.description().contains("not a number")) << text;
        }
    }
}

TEST(NumberForms, GeneralFormIsShortestWithoutGroupingAndReadsBack) {
    const QLocale de(QLocale::German);
    EXPECT_EQ(GeneralNumber(12.5, QLocale::c()), "12.5");
    EXPECT_EQ(GeneralNumber(7, QLocale::c()), "7");
    EXPECT_EQ(GeneralNumber(1234567, QLocale::c()), "1234567");
    EXPECT_EQ(GeneralNumber(-0.0, QLocale::c()), "0");
    EXPECT_EQ(GeneralNumber(3.5, de), "3,5");
    for (double v : {0.1, -2.9, 1e21, 1e-7, 123456789.125, -1e300})
        for (const QLocale &l : {QLocale::c(), de})
            EXPECT_EQ(ReadNumber(GeneralNumber(v, l), l), v) << v;
}

// The sortable form must put any mix of values in numeric order when compared as text.
TEST(NumberForms, SortableFormsCompareAsTheirValues) {
    std::vector<double> values = {0,     0.5,   1,    3.25, 3.5,  9,     10,    12.5, 1e21,
                                  -0.5,  -0.25, -1,   -2.9, -3,   -3.5,  -3.55, -10,  -1e21,
                                  2.5e-8, -2.5e-8, 99.99, 100, -99.99, -100};
    std::mt19937 random(42);
    for (int i = 0; i < 200; ++i)
        values.push_back(std::uniform_real_distribution<double>(-1e6, 1e6)(random));
    int width = 0;
    for (double v : values)
        width = std::max(width, WholeDigitCount(v));
    for (double a : values) {
        for (double b : values) {
            const int byText = QString::compare(SortableNumber(a, width), SortableNumber(b, width));
            EXPECT_EQ(byText < 0, a < b) << a << " vs " << b;
        }
        EXPECT_EQ(ReadSortableNumber(SortableNumber(a, width)), a);
    }
}

TEST(NumberForms, PadsWholeDigitsToTheWidth) {
    EXPECT_EQ(SortableNumber(9, 2), "09");
    EXPECT_EQ(SortableNumber(10, 2), "10");
    EXPECT_EQ(SortableNumber(3.5, 2), "03.5");
    EXPECT_EQ(SortableNumber(-3, 2), "-96~");
}
