#include "listsort/numberforms.h"
#include "platform/failure.h"
#include "qtprinters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace orvantis;

TEST(NumberForms, ReadsPlainNumbersAndOrdinaryDecimals) {
    const QLocale c = QLocale::c();
    EXPECT_EQ(readNumber("15", c), 15);
    EXPECT_EQ(readNumber("-3", c), -3);
    EXPECT_EQ(readNumber("12.50", c), 12.5);
    EXPECT_EQ(readNumber("007", c), 7);
    EXPECT_EQ(readNumber("3,5", QLocale(QLocale::German)), 3.5);
}

TEST(NumberForms, RejectsWhatIsNotANumberAsTypeMismatch) {
    const QLocale c = QLocale::c();
    for (const char *text : {"abc", "12abc", "1,000", "inf", "nan", "1e999", "--1"}) {
        try {
            readNumber(text, c);
            ADD_FAILURE() << text << " was read as a number";
        } catch (const Failure &f) {
            EXPECT_EQ(f.number(), kTypeMismatch) << text;
            EXPECT_TRUE(f.description().contains("not a number")) << text;
        }
    }
}

TEST(NumberForms, GeneralFormIsShortestWithoutGroupingAndReadsBack) {
    const QLocale de(QLocale::German);
    EXPECT_EQ(generalNumber(12.5, QLocale::c()), "12.5");
    EXPECT_EQ(generalNumber(7, QLocale::c()), "7");
    EXPECT_EQ(generalNumber(1234567, QLocale::c()), "1234567");
    EXPECT_EQ(generalNumber(-0.0, QLocale::c()), "0");
    EXPECT_EQ(generalNumber(3.5, de), "3,5");
    for (double v : {0.1, -2.9, 1e21, 1e-7, 123456789.125, -1e300})
        for (const QLocale &l : {QLocale::c(), de})
            EXPECT_EQ(readNumber(generalNumber(v, l), l), v) << v;
}

// The sortable form must put any mix of values in numeric order when compared as text.
TEST(NumberForms, SortableFormsCompareAsTheirValues) {
    std::vector<double> values = {0,    0.5,   1,      3.25,    3.5,   9,   10,     12.5,
                                  1e21, -0.5,  -0.25,  -1,      -2.9,  -3,  -3.5,   -3.55,
                                  -10,  -1e21, 2.5e-8, -2.5e-8, 99.99, 100, -99.99, -100};
    std::mt19937 random(42);
    for (int i = 0; i < 200; ++i)
        values.push_back(std::uniform_real_distribution<double>(-1e6, 1e6)(random));
    int width = 0;
    for (double v : values)
        width = std::max(width, wholeDigitCount(v));
    for (double a : values) {
        for (double b : values) {
            const int byText = QString::compare(sortableNumber(a, width), sortableNumber(b, width));
            EXPECT_EQ(byText < 0, a < b) << a << " vs " << b;
        }
        EXPECT_EQ(readSortableNumber(sortableNumber(a, width)), a);
    }
}

TEST(NumberForms, PadsWholeDigitsToTheWidth) {
    EXPECT_EQ(sortableNumber(9, 2), "09");
    EXPECT_EQ(sortableNumber(10, 2), "10");
    EXPECT_EQ(sortableNumber(3.5, 2), "03.5");
    EXPECT_EQ(sortableNumber(-3, 2), "-96~");
}

TEST(NumberForms, TheGeneralFormHasAsciiDigitsAndTheLocalesDecimalSeparatorOnly) {
    for (const char *name : {"C", "de_DE", "sv_SE", "ar_EG", "hi_IN", "bn_BD", "fa_IR"}) {
        const QLocale locale(QString::fromLatin1(name));
        const QString point = locale.decimalPoint();
        const std::pair<double, QString> cases[] = {{400, "400"},
                                                    {-3, "-3"},
                                                    {12.5, "12" + point + "5"},
                                                    {-0.25, "-0" + point + "25"},
                                                    {1.5e20, "1" + point + "5e+20"},
                                                    {-2e-7, "-2e-07"}};
        for (const auto &[value, text] : cases) {
            EXPECT_EQ(generalNumber(value, locale), text) << name;
            EXPECT_EQ(readNumber(text, locale), value)
                << name << " reads back " << text.toStdString();
        }
        // The locale's own digits still read (Qt 6.4 reads back no negative of ar_EG's own).
        EXPECT_EQ(readNumber(locale.toString(12.5), locale), 12.5) << name;
    }
}
