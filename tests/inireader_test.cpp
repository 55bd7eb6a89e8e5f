#include "qtprinters.h"
#include "scan/reading/inifiles.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace orvantis;

namespace {

struct IniCase {
    const char *name;
    QByteArray file;
    const char *section;
    const char *key;
    QString expected;
};

// One row per reading rule.
const IniCase kCases[] = {
    {"plainValue", "[CHAR1]\nLevel=15\n", "CHAR1", "Level", "15"},
    {"missingKey", "[CHAR1]\nName=x\n", "CHAR1", "Level", ""},
    {"missingSection", "[CHAR2]\nLevel=3\n", "CHAR1", "Level", ""},
    {"emptyValue", "[CHAR1]\nLevel=\n", "CHAR1", "Level", ""},
    {"crlfLines", "[A]\r\nk=v\r\nz=w\r\n", "A", "z", "w"},
    {"crOnlyLines", "[A]\rk=v\rz=w", "A", "z", "w"},
    {"blanksAroundEverything", " \t[ A ] \n\v k \t= \t some value \t\n", "A", "k", "some value"},
    {"commentLine", "[A]\n;k=commented\n  ; k=also\nk=real\n", "A", "k", "real"},
    {"hashIsNoComment", "[A]\n#k=1\n", "A", "#k", "1"},
    {"sectionWithoutClosingBracket", "[A\nk=v\n", "A", "k", "v"},
    {"textAfterSectionIgnored", "[A] trailing\nk=v\n", "A", "k", "v"},
    {"lineWithoutEqualsIgnored", "[A]\nk\nk=v\n", "A", "k", "v"},
    {"valueKeepsLaterEquals", "[A]\nk=a=b\n", "A", "k", "a=b"},
    {"keysBeforeFirstSectionBelongNowhere", "k=early\n[A]\n", "A", "k", ""},
    {"doubleQuotesRemoved", "[A]\nk=\" padded \"\n", "A", "k", " padded "},
    {"singleQuotesRemoved", "[A]\nk='x'\n", "A", "k", "x"},
    {"mismatchedQuotesKept", "[A]\nk=\"x'\n", "A", "k", "\"x'"},
    {"loneQuoteKept", "[A]\nk=\"\n", "A", "k", "\""},
    {"namesIgnoreCase", "[general]\nLOGIN=bob\n", "GENERAL", "Login", "bob"},
    {"firstSectionOfANameOnly", "[A]\nx=1\n[B]\n[a]\nk=second\n", "A", "k", ""},
    {"firstKeyWins", "[A]\nk=one\nK=two\n", "A", "k", "one"},
    {"nulEndsAValue", QByteArray("[A]\nk=ab\0cd\n", 12), "A", "k", "ab"},
    {"windows1252", "[A]\nk=Caf\xe9 \x80\n", "A", "k", QString::fromUtf8("Café €")},
    {"utf8", "[A]\nk=Caf\xc3\xa9\n", "A", "k", QString::fromUtf8("Café")},
    {"utf8ByteOrderMark", "\xef\xbb\xbf[A]\nk=\xc3\xa9\n", "A", "k", QString::fromUtf8("é")},
    {"invalidUtf8ElsewhereMeans1252", "[A]\nk=\xc3\xa9\nz=\xff\n", "A", "k",
     QString::fromUtf8("Ã©")},
};

class IniReadingRules : public ::testing::TestWithParam<IniCase> {};

} // namespace

TEST_P(IniReadingRules, ReadsTheValue) {
    const IniCase &c = GetParam();
    IniLookup lookup(std::vector<IniName>{{c.section, c.key}});
    lookup.readBytes(c.file.constData(), static_cast<size_t>(c.file.size()));
    EXPECT_EQ(lookup.value(0), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Rules, IniReadingRules, ::testing::ValuesIn(kCases),
                         [](const auto &row) { return std::string(row.param.name); });

TEST(IniReader, CutsLongValuesTo254Characters) {
    TempFolder folder;
    const QByteArray longValue(300, 'v');
    const QString file =
        folder.write("a.ini", "[A]\nk=" + longValue + "\nq=\"" + QByteArray(2000, 'q') + "\"\n");
    EXPECT_EQ(ReadIniValue("A", "k", file), QString(254, u'v'));
    EXPECT_EQ(ReadIniValue("A", "q", file), QString(254, u'q'));
    const QString utf8 =
        folder.write("b.ini", "[A]\nk=" + QString(300, QChar(0x20AC)).toUtf8() + "\n");
    EXPECT_EQ(ReadIniValue("A", "k", utf8), QString(254, QChar(0x20AC)));
}

TEST(IniReader, LooksUpSeveralNamesInOnePass) {
    TempFolder folder;
    const QString file = folder.write("a.ini", "[GENERAL]\nLogin=bob\n[CHAR2]\nLevel=7\n");
    IniLookup lookup({{"CHAR2", "Level"}, {"GENERAL", "Login"}, {"CHAR3", "Level"}});
    const auto values = [&](const QString &path) {
        readIniFile(lookup, path.toUtf8());
        return QStringList{lookup.value(0), lookup.value(1), lookup.value(2)};
    };
    EXPECT_EQ(values(file), QStringList({"7", "bob", ""}));
    EXPECT_EQ(values(folder.path("missing.ini")), QStringList({"", "", ""}));
}

TEST(IniReader, FindsNonAsciiNamesInEitherEncoding) {
    TempFolder folder;
    const QString utf8 = folder.write("u.ini", "[Stra\xc3\x9f"
                                               "e]\nk=v\n");
    const QString cp1252 = folder.write("c.ini", "[Stra\xdf"
                                                 "e]\nk=w\n");
    const QString section = QString::fromUtf8("Straße");
    EXPECT_EQ(ReadIniValue(section, "k", utf8), "v");
    EXPECT_EQ(ReadIniValue(section, "k", cp1252), "w");
}

TEST(IniReader, OpensFilesByTheirNameOnDiskAndIgnoringCase) {
    TempFolder folder;
    const QString name = QString::fromUtf8("Ølstue-日本.ini");
    folder.write(name, "[A]\nk=v\n");
    EXPECT_EQ(ReadIniValue("A", "k", folder.path(name)), "v");
    folder.write("Sub/Mixed.INI", "[A]\nk=w\n");
    EXPECT_EQ(ReadIniValue("A", "k", folder.path("sub/mixed.ini")), "w");
}

TEST(IniReader, GivesEmptyAtOnceForWhatIsNoRegularFile) {
    TempFolder folder;
    const QString fifo = folder.path("fifo.ini");
    ASSERT_EQ(::mkfifo(fifo.toUtf8().constData(), 0600), 0);
    const QString zero = folder.path("zero.ini");
    ASSERT_EQ(::symlink("/dev/zero", zero.toUtf8().constData()), 0);
    const QString dangling = folder.path("dangling.ini");
    ASSERT_EQ(::symlink("/nonexistent/x.ini", dangling.toUtf8().constData()), 0);
    const QString socketPath = folder.path("s.ini");
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.toUtf8().constData(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);

    for (const QString &path : {fifo, zero, dangling, socketPath, folder.mkdir("dir.ini")})
        EXPECT_EQ(ReadIniValue("A", "k", path), "") << path.toStdString();
    ::close(sock);
}

namespace {

// The peak memory, in KiB, of a child process that reads one value of a file.
long peakKiBReading(const QString &file, const char *section) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        const QString value = ReadIniValue(section, "k", file);
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        const long peak = value.isEmpty() ? -1 : usage.ru_maxrss;
        (void)!::write(fds[1], &peak, sizeof peak);
        ::_exit(0);
    }
    ::close(fds[1]);
    long peak = -1;
    EXPECT_EQ(::read(fds[0], &peak, sizeof peak), static_cast<ssize_t>(sizeof peak));
    ::close(fds[0]);
    ::waitpid(child, nullptr, 0);
    return peak;
}

} // namespace

TEST(IniReader, ReadsAFileWithOneHugeLineInBoundedMemory) {
    // A value line of 64 MiB before the value looked for, and one as the value itself: the
    // reader's peak memory must not grow with either.
    TempFolder folder;
    const QString small = folder.write("small.ini", "[A]\nk=small\n");
    QFile big(folder.path("big.ini"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    big.write("[A]\nk=");
    const QByteArray chunk(1 << 20, 'x');
    for (int i = 0; i < 64; ++i)
        big.write(chunk);
    big.write("\n[B]\nk=after\n");
    big.close();

    const long baseline = peakKiBReading(small, "A");
    ASSERT_GT(baseline, 0);
    for (const char *section : {"A", "B"}) {
        const long peak = peakKiBReading(big.fileName(), section);
        ASSERT_GT(peak, 0) << section;
        EXPECT_LT(peak - baseline, 8 * 1024)
            << "reading [" << section << "] grew by " << peak - baseline << " KiB";
    }
    EXPECT_EQ(ReadIniValue("A", "k", big.fileName()), QString(254, u'x'));
    EXPECT_EQ(ReadIniValue("B", "k", big.fileName()), "after");
}
