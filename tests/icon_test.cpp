// The program's icon file holds the five images the window and the program file show.
#include <QFile>

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <utility>

namespace {
uint16_t u16(const QByteArray &d, qsizetype at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(d[at]) | static_cast<uint8_t>(d[at + 1])
                                                                   << 8);
}
uint32_t u32(const QByteArray &d, qsizetype at) {
    return u16(d, at) | static_cast<uint32_t>(u16(d, at + 2)) << 16;
}
} // namespace

TEST(Icon, HoldsFiveImagesOfTheRightSizesAndDepths) {
    QFile file(ORVANTIS_ICON_FILE);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray ico = file.readAll();
    ASSERT_GE(ico.size(), 6);
    EXPECT_EQ(u16(ico, 0), 0);
    EXPECT_EQ(u16(ico, 2), 1) << "an icon, not a cursor";
    ASSERT_EQ(u16(ico, 4), 5);

    std::multiset<std::pair<int, int>> images;
    for (int i = 0; i < 5; ++i) {
        const qsizetype entry = 6 + 16 * i;
        const int width = static_cast<uint8_t>(ico[entry]);
        const int height = static_cast<uint8_t>(ico[entry + 1]);
        const int bits = u16(ico, entry + 6);
        const uint32_t size = u32(ico, entry + 8);
        const uint32_t offset = u32(ico, entry + 12);
        ASSERT_LE(qsizetype(offset + size), ico.size());
        EXPECT_EQ(width, height);
        // The image itself agrees with its directory entry.
        EXPECT_EQ(u32(ico, offset), 40u) << "a bitmap info header";
        EXPECT_EQ(static_cast<int>(u32(ico, offset + 4)), width);
        EXPECT_EQ(static_cast<int>(u32(ico, offset + 8)), 2 * height) << "image and mask";
        EXPECT_EQ(u16(ico, offset + 14), bits);
        images.insert({width, bits});
    }
    EXPECT_EQ(images,
              (std::multiset<std::pair<int, int>>{{48, 8}, {32, 8}, {24, 8}, {16, 8}, {48, 32}}));
}
