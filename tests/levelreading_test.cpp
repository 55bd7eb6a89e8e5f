#include "scan/ini/levelreading.h"

#include <gtest/gtest.h>

using namespace orvantis;

TEST(LevelReading, ReadsTheNumberATextBeginsWith) {
    const std::pair<const char *, int32_t> cases[] = {
        {"42", 42},
        {"  42  ", 42},
        {"\t42\n", 42},
        {"4 2", 42},
        {"42abc", 42},
        {"- 5", -5},
        {"+7", 7},
        {"-3", -3},
        {"abc", 0},
        {"", 0},
        {"-", 0},
        {".", 0},
        {"&H10", 0},
        {"1e3", 1},
        {"12.7.3", 13},
        {"2.5", 2},
        {"3.5", 4},
        {"-2.5", -2},
        {"0.5", 0},
        {"1.5", 2},
        {"007", 7},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483648},
        {"2147483647.4", 2147483647},
        {"1,5", 1},
    };
    for (const auto &[text, level] : cases)
        EXPECT_EQ(readLevel(QString::fromUtf8(text)), std::optional<int32_t>(level))
            << '"' << text << '"';
}

TEST(LevelReading, ALevelOutside32BitsOverflows) {
    for (const QString &text :
         {QString("2147483648"), QString("-2147483649"), QString("2147483647.5"),
          QString("99999999999999999999"), QString(400, u'9')}) {
        EXPECT_EQ(readLevel(text), std::nullopt) << text.toStdString() << " was read";
    }
}

TEST(LevelReading, ANumberTooSmallForADoubleIsZeroNotAnOverflow) {
    const QString tiny = QStringLiteral("0.") + QString(330, u'0') + u'1';
    EXPECT_EQ(readLevel(tiny), std::optional<int32_t>(0));
    EXPECT_EQ(readLevel(u'-' + tiny), std::optional<int32_t>(0));
    EXPECT_EQ(readLevel(QStringLiteral(".") + QString(400, u'0') + u'7'),
              std::optional<int32_t>(0));
    // A whole part beyond a double's range is still an overflow, whatever follows it.
    EXPECT_EQ(readLevel(QStringLiteral("1") + QString(400, u'0') + QStringLiteral(".5")),
              std::nullopt);
    EXPECT_EQ(readLevel(QStringLiteral("-0") + QString(400, u'9')), std::nullopt);
}
