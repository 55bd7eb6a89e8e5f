// Text from the folder, escaped for a terminal: nothing it holds reaches the terminal as a
// command, and the escaped form reads back unambiguously.
#include "platform/visibletext.h"
#include "qtprinters.h"

#include <gtest/gtest.h>

using namespace orvantis;

TEST(VisibleText, EscapesEveryControlCharacterAndTheBackslash) {
    const struct {
        QString raw;
        QString escaped;
    } cases[] = {
        {QStringLiteral("plain name"), QStringLiteral("plain name")},
        {QStringLiteral("evil\x1b]0;pwned\x07name"), QStringLiteral("evil\\x1b]0;pwned\\x07name")},
        {QStringLiteral("bad\x1b[31mred"), QStringLiteral("bad\\x1b[31mred")},
        {QStringLiteral("two\nlines\r\tand tab"), QStringLiteral("two\\x0alines\\x0d\\x09and tab")},
        {QString(QChar(0)) + u'x', QStringLiteral("\\x00x")},
        {QStringLiteral("del\x7f"), QStringLiteral("del\\x7f")},
        {QString(QChar(0x9b)) + QStringLiteral("31m"), QStringLiteral("\\u009b31m")},
        {QString(QChar(0x85)), QStringLiteral("\\u0085")},
        {QStringLiteral("back\\slash"), QStringLiteral("back\\\\slash")},
        {QStringLiteral("\\x1b"), QStringLiteral("\\\\x1b")}, // typed, not a control character
        // A file name's byte that is not UTF-8 is kept as a lone surrogate: shown as that byte.
        {QStringLiteral("latin") + QChar(0xDCFF), QStringLiteral("latin\\xff")},
        {QString::fromUtf8("Ünïcødé Ørn ✓"), QString::fromUtf8("Ünïcødé Ørn ✓")},
        {QString(QChar(0xA0)), QString(QChar(0xA0))}, // no-break space: printable, kept
    };
    for (const auto &c : cases) {
        EXPECT_EQ(withControlsEscaped(c.raw), c.escaped) << c.raw.toStdString();
        EXPECT_EQ(needsEscaping(c.raw), c.raw != c.escaped) << c.raw.toStdString();
    }
}

TEST(VisibleText, LeavesNoControlCharacterInAnyText) {
    QString all;
    for (char16_t c = 0; c < 0x100; ++c)
        all += QChar(c);
    for (char16_t c = 0xDC80; c <= 0xDCFF; ++c)
        all += QChar(c);
    const QString escaped = withControlsEscaped(all);
    for (const QChar c : escaped) {
        const char16_t u = c.unicode();
        EXPECT_FALSE(u < 0x20 || u == 0x7F || (u >= 0x80 && u <= 0x9F) ||
                     (u >= 0xD800 && u < 0xE000))
            << "U+" << std::hex << u;
    }
}
