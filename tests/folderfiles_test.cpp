#include "qtprinters.h"
#include "scan/reading/folderlisting.h"
#include "scan/system/filenames.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <unistd.h>

using namespace orvantis;

TEST(ListFolderFiles, GivesOneEmptyNameForAMissingOrEmptyFolderOrAFile) {
    TempFolder folder;
    EXPECT_EQ(ListFolderFiles(folder.path("missing/")), QStringList({""}));
    EXPECT_EQ(ListFolderFiles(folder.mkdir("empty") + "/"), QStringList({""}));
    EXPECT_EQ(ListFolderFiles(folder.write("plain", "x") + "/"), QStringList({""}));
}

TEST(ListFolderFiles, ListsOnlyTheFilesDirectlyInside) {
    TempFolder folder;
    folder.write("acc/b.ini", "");
    folder.write("acc/A.ini", "");
    folder.write("acc/.hidden.ini", "");
    folder.write("acc/sub.ini/deep.ini", "");
    ASSERT_EQ(::symlink("b.ini", folder.path("acc/link.ini").toUtf8().constData()), 0);
    ASSERT_EQ(::symlink("sub.ini", folder.path("acc/dirlink.ini").toUtf8().constData()), 0);
    ASSERT_EQ(::mkfifo(folder.path("acc/fifo.ini").toUtf8().constData(), 0600), 0);
    EXPECT_EQ(ListFolderFiles(folder.path("acc/")),
              QStringList({".hidden.ini", "A.ini", "b.ini", "link.ini"}));
}

TEST(ListFolderFiles, FindsTheFolderWhateverTheLetterCaseAsked) {
    TempFolder folder;
    folder.write("accounts/one.ini", "");
    EXPECT_EQ(ListFolderFiles(folder.path("Accounts/")), QStringList({"one.ini"}));
    const FolderListing listing = listRegularFiles(folder.path("ACCOUNTS/"));
    EXPECT_EQ(listing.folder(), folder.path("accounts/"));
}

TEST(FileNames, RoundTripAnyBytes) {
    for (const QByteArray &bytes :
         {QByteArray("plain.ini"), QByteArray("caf\xc3\xa9.ini"), QByteArray("bad\xff\xfe.ini"),
          QByteArray("\xed\xa0\x80"), QByteArray("trunc\xe2\x82")}) {
        EXPECT_EQ(encodeFileName(decodeFileName(bytes)), bytes) << bytes.toHex().toStdString();
    }
    EXPECT_EQ(decodeFileName("caf\xc3\xa9"), QString::fromUtf8("café"));
}

TEST(ListFolderFiles, NamesThatAreNotUtf8StillOpen) {
    TempFolder folder;
    const QByteArray raw = folder.mkdir("acc").toUtf8() + "/bad\xff.ini";
    FILE *f = std::fopen(raw.constData(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    const QStringList names = ListFolderFiles(folder.path("acc/"));
    ASSERT_EQ(names.size(), 1);
    EXPECT_EQ(encodeFileName(folder.path("acc/") + names[0]), raw);
}

TEST(ListFolderFiles, NamesEqualButForLetterCaseComeInOneOrderEveryTime) {
    TempFolder folder;
    QStringList expected;
    for (int i = 0; i < 40; ++i) {
        const QString lower = QStringLiteral("acc/name%1.ini").arg(i, 2, 10, QLatin1Char('0'));
        folder.write(lower, "");
        folder.write(lower.toUpper().replace("ACC/", "acc/"), "");
        expected << QStringLiteral("NAME%1.INI").arg(i, 2, 10, QLatin1Char('0'))
                 << QStringLiteral("name%1.ini").arg(i, 2, 10, QLatin1Char('0'));
    }
    EXPECT_EQ(ListFolderFiles(folder.path("acc/")), expected);
}

// Long names that share their first sixteen bytes, told apart later, by letter case alone or by
// length: the order is that of comparing the folded names, then the names as they are.
TEST(ListFolderFiles, LongNamesWithACommonStartAreInNameOrder) {
    TempFolder folder;
    QStringList names;
    const QString start = QStringLiteral("guild_of_the_north_");
    for (const char *end : {"b.ini", "B.ini", "a.ini", "A.INI", "ab.ini", "a", "", "Z", "_"})
        names << start + QLatin1String(end);
    names << QStringLiteral("GUILD_of_the_north_a.ini") << QStringLiteral("guild_of_the_nortH")
          << QStringLiteral("short.ini") << QStringLiteral("Short.ini");
    for (const QString &name : names)
        folder.write(QStringLiteral("acc/") + name, "");
    QStringList expected = names;
    std::sort(expected.begin(), expected.end(), [](const QString &a, const QString &b) {
        const QByteArray fa = a.toLatin1().toLower(), fb = b.toLatin1().toLower();
        return fa != fb ? fa < fb : a.toLatin1() < b.toLatin1();
    });
    EXPECT_EQ(ListFolderFiles(folder.path("acc/")), expected);
}
