// An accounts folder holding what servers, editors and users leave behind, beside good account
// files: the rows must be exactly those of the good files, quickly, in bounded memory, both from
// the built orvantis-rank and from the window's scan.
#include "accountfiles.h"
#include "golden.h"
#include "listhelpers.h"
#include "programrun.h"
#include "qtprinters.h"
#include "recordhelpers.h"
#include "recordingmessagebox.h"
#include "scan/accounts/accountcells.h"
#include "scan/getscores.h"
#include "scanwaiting.h"
#include "tempfolder.h"
#include "window/frmmain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSet>

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <random>
#include <thread>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A literal's bytes, NUL bytes inside included.
template <size_t N> QByteArray bytesOf(const char (&text)[N]) {
    return QByteArray(text, N - 1);
}

// Raw file creation, for names that are not valid UTF-8.
void writeRaw(const QByteArray &path, const QByteArray &bytes) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path.constData();
    ASSERT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), bytes.size());
    ::close(fd);
}

// Good account files, some with awkward names and values; the same in every folder.
void addGoodFiles(const QByteArray &accounts) {
    writeRaw(accounts + "/plain.ini", accountFile("plain", 40));
    writeRaw(accounts + "/with space.ini", accountFile("spaced", 31));
    writeRaw(accounts + "/tab\there.ini", accountFile("tabbed", 22));
    writeRaw(accounts + "/new\nline.ini", accountFile("newline", 13));
    writeRaw(accounts + "/latin\xff\xfe.ini", accountFile("latin", 9));
    writeRaw(accounts + "/nul.ini", bytesOf("[GENERAL]\nLogin=cut\0after\n[CHAR1]\nLevel=3\n"));
    writeRaw(accounts + "/.dotted.ini", accountFile("dotted", 2));
}

// What must add no row, and must not hang, crash or grow memory without bound.
void addHostileEntries(const QByteArray &accounts, const QByteArray &outside) {
    ASSERT_EQ(::mkfifo(accounts + "/fifo.ini", 0644), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = accounts + "/socket.ini";
    ASSERT_LT(size_t(socketPath.size()), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::symlink("/dev/zero", accounts + "/zero.ini"), 0);
    ASSERT_EQ(::symlink("/dev/urandom", accounts + "/urandom.ini"), 0);
    ASSERT_EQ(::mkdir(outside + "/adir", 0755), 0);
    ASSERT_EQ(::symlink(outside + "/adir", accounts + "/dirlink.ini"), 0);
    ASSERT_EQ(::symlink("/nonexistent/target.ini", accounts + "/dangling.ini"), 0);
    ASSERT_EQ(::symlink("loop2.ini", accounts + "/loop1.ini"), 0);
    ASSERT_EQ(::symlink("loop1.ini", accounts + "/loop2.ini"), 0);
    ASSERT_EQ(::mkdir(accounts + "/sub.ini", 0755), 0);
    writeRaw(accounts + "/sub.ini/inside.ini", accountFile("nested", 99));

    // 2 GB of nothing (a tenth of that under ThreadSanitizer, which reads it thirty times slower
    // than a scan a user runs), and a line of 10,000,000 characters.
#ifdef __SANITIZE_THREAD__
    constexpr off_t kSparseSize = 200'000'000;
#else
    constexpr off_t kSparseSize = 2'000'000'000;
#endif
    const int sparse = ::open(accounts + "/sparse.ini", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_EQ(::ftruncate(sparse, kSparseSize), 0);
    ::close(sparse);
    writeRaw(accounts + "/longline.ini",
             "[GENERAL]\nNick=" + QByteArray(10'000'000, 'x') + "\n[CHAR1]\nLevel=5\n");
    writeRaw(accounts + "/longkey.ini", QByteArray(10'000'000, 'k') + "=1\n[GENERAL]\n");

    // Junk: random bytes, and values made of NUL bytes.
    std::mt19937 random(7);
    QByteArray junk(256 * 1024, '\0');
    for (char &c : junk)
        c = static_cast<char>(random());
    writeRaw(accounts + "/junk.ini", junk);
    writeRaw(accounts + "/nullogin.ini", bytesOf("[GENERAL]\nLogin=\0\0\0\n[CHAR1]\nLevel=50\n"));
}

class HostileFolder : public ::testing::Test {
protected:
    void SetUp() override {
        // Readable by everyone, so that the console tool can also run as an unprivileged user.
        ::chmod(goodOnly.path().toUtf8(), 0755);
        ::chmod(hostile.path().toUtf8(), 0755);
        ::chmod(outside.path().toUtf8(), 0755); // so that it sees where the links lead
        for (TempFolder *f : {&goodOnly, &hostile})
            ASSERT_EQ(::mkdir(f->path("accounts").toUtf8(), 0755), 0);
        addGoodFiles(goodOnly.path("accounts").toUtf8());
        addGoodFiles(hostile.path("accounts").toUtf8());
        addHostileEntries(hostile.path("accounts").toUtf8(), outside.path().toUtf8());
    }
    TempFolder goodOnly, hostile, outside;
};

} // namespace

TEST_F(HostileFolder, ConsoleRankingIsThatOfTheGoodFilesAlone) {
    const ProgramRun expected = runProgram(ORVANTIS_RANK_EXE, {goodOnly.path().toUtf8()});
    ASSERT_EQ(expected.status, 0);
    EXPECT_EQ(expected.out.count('\n'), 7);

    const ProgramRun got = runProgram(ORVANTIS_RANK_EXE, {hostile.path().toUtf8()});
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(QString::fromUtf8(got.out), QString::fromUtf8(expected.out));
    EXPECT_EQ(got.err, "") << "no hostile entry is an unreadable account file";
#ifndef __SANITIZE_THREAD__ // ThreadSanitizer's own time and memory would dwarf the program's
    EXPECT_LT(got.millis, 30000) << "took " << got.millis << " ms";
    EXPECT_LT(got.peakKiB, 100 * 1024) << "peak " << got.peakKiB << " KiB";
#endif
    std::printf("hostile folder: %lld ms, peak %ld KiB\n", static_cast<long long>(got.millis),
                got.peakKiB);

    // Byte for byte what it printed when recorded, in every format, whole and with --top.
    const std::pair<const char *, QList<QByteArray>> forms[] = {
        {"tsv", {}},
        {"csv", {"--format", "csv"}},
        {"json", {"--format", "json"}},
        {"top3.json", {"--format", "json", "--top", "3"}},
    };
    for (const auto &[suffix, arguments] : forms) {
        const ProgramRun run =
            runProgram(ORVANTIS_RANK_EXE, arguments + QList<QByteArray>{hostile.path().toUtf8()});
        expectGolden(QStringLiteral("hostile.") + suffix, run.out);
        expectGolden(QStringLiteral("hostile.") + suffix + QStringLiteral(".status"),
                     "status " + QByteArray::number(run.status) + '\n' + run.err);
    }
}

TEST_F(HostileFolder, ScanWithOneTwoOrManyReadsInFlightEitherWayIsThatOfTheGoodFilesAlone) {
    RecordingMessageBox messages;
    const auto scan = [&](const TempFolder &folder, int readsInFlight,
                          orvantis::FileReading reading = orvantis::FileReading::Blocking) {
        orvantis::ScanSettings settings;
        settings.readsInFlight = readsInFlight;
        settings.reading = reading;
        orvantis::ReportList list(orvantis::reportColumnTitles());
        const orvantis::ScanReport report =
            orvantis::GetScores(folder.path(), list, {messages, QLocale::c()}, settings);
        EXPECT_TRUE(report.skipped.empty()) << "nothing of the hostile folder is reported";
        return rowTexts(list);
    };
    const QStringList expected = scan(goodOnly, 1);
    ASSERT_EQ(expected.size(), 7);
    for (int readsInFlight : {1, 2, 64}) {
        EXPECT_EQ(scan(hostile, readsInFlight), expected) << readsInFlight << " blocking readers";
        EXPECT_EQ(scan(hostile, readsInFlight, orvantis::FileReading::Ring), expected)
            << readsInFlight << " reads in the ring";
    }
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(HostileFolder, OnlyAFileThatExistsAndCannotBeReadIsReported) {
    // Case by case: none of the hostile entries is an account file that could not be read, so
    // none is reported (the FIFO, the socket and the devices are no regular files; the link to a
    // folder, the dangling link and the loop lead to no file; the folder named like an account
    // file is no file; the sparse, long-lined and junk files are read and give no row). Only the
    // regular file that may not be read is named, with its reason, and makes the status 5.
    const QByteArray secret = hostile.path("accounts/secret.ini").toUtf8();
    writeRaw(secret, accountFile("secret", 77));
    ASSERT_EQ(::chmod(secret, 0), 0);
    const QByteArray user = unprivilegedUser();
    if (user.isEmpty())
        GTEST_SKIP() << "running as root, which reads any file, and setpriv is missing";
    const ProgramRun expected = runProgram(ORVANTIS_RANK_EXE, {goodOnly.path().toUtf8()});
    const ProgramRun got = runProgram(ORVANTIS_RANK_EXE, {hostile.path().toUtf8()}, {user, {}, {}});
    EXPECT_EQ(got.status, 5);
    EXPECT_EQ(QString::fromUtf8(got.out), QString::fromUtf8(expected.out));
    EXPECT_EQ(got.err, "orvantis-rank: skipped secret.ini: could not be read: Permission denied\n"
                       "orvantis-rank: 1 of 13 account files could not be read: the ranking "
                       "lacks their accounts\n");
}

TEST_F(HostileFolder, WindowScanIsThatOfTheGoodFilesAlone) {
    RecordingMessageBox messages;
    orvantis::frmMain good(goodOnly.path(), messages);
    ASSERT_TRUE(loadAndWait(good));
    orvantis::frmMain window(hostile.path(), messages);
    ASSERT_TRUE(loadAndWait(window));
    EXPECT_EQ(rowTexts(window.lvLevels()), rowTexts(good.lvLevels()));
    EXPECT_TRUE(rowTexts(window.lvLevels()).contains("cut|3|1|")) << "a value ends at a NUL byte";
    ASSERT_TRUE(refreshAndWait(window));
    EXPECT_EQ(rowTexts(window.lvLevels()), rowTexts(good.lvLevels()));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(HostileFolder, FilesVanishingDuringAScanLeaveTheOtherRowsIntact) {
    // Thousands of login-less files, removed while the scan runs.
    const QByteArray accounts = hostile.path("accounts").toUtf8();
    for (int i = 0; i < 5000; ++i)
        writeRaw(accounts + "/churn" + QByteArray::number(i) + ".ini", "[CHAR1]\nLevel=1\n");
    RecordingMessageBox messages;
    orvantis::frmMain good(goodOnly.path(), messages);
    ASSERT_TRUE(loadAndWait(good));

    std::atomic<bool> go{false};
    std::thread remover([&] {
        while (!go)
            std::this_thread::yield();
        for (int i = 0; i < 5000; ++i)
            ::unlink(accounts + "/churn" + QByteArray::number(i) + ".ini");
    });
    orvantis::frmMain window(hostile.path(), messages);
    go = true;
    ASSERT_TRUE(loadAndWait(window));
    remover.join();
    EXPECT_EQ(rowTexts(window.lvLevels()), rowTexts(good.lvLevels()));
}

TEST_F(HostileFolder, TheFolderReplacedByAFileDuringAScanEndsItQuietly) {
    const QByteArray accounts = hostile.path("accounts").toUtf8();
    for (int i = 0; i < 5000; ++i)
        writeRaw(accounts + "/many" + QByteArray::number(i) + ".ini",
                 accountFile("many" + QByteArray::number(i), i % 90));
    RecordingMessageBox messages;
    orvantis::frmMain window(hostile.path(), messages);
    std::atomic<bool> go{false};
    std::thread replacer([&] {
        while (!go)
            std::this_thread::yield();
        ::rename(accounts, hostile.path("gone").toUtf8());
        writeRaw(accounts, "now a plain file");
    });
    go = true;
    ASSERT_TRUE(loadAndWait(window));
    replacer.join();
    // What was read before the swap is there, each row exactly as its file gives it, once, and
    // ranked; nothing comes of the files that could no longer be reached.
    orvantis::frmMain good(goodOnly.path(), messages);
    ASSERT_TRUE(loadAndWait(good));
    QSet<QString> possible;
    for (const QString &row : rowTexts(good.lvLevels()))
        possible << row;
    for (int i = 0; i < 5000; ++i)
        possible << (i % 90 == 0 ? QStringLiteral("many%1||X|").arg(i)
                                 : QStringLiteral("many%1|%2|1|One").arg(i).arg(i % 90));
    const QStringList rows = rowTexts(window.lvLevels());
    QSet<QString> seen;
    int previousLevel = INT_MAX;
    for (const QString &row : rows) {
        EXPECT_TRUE(possible.contains(row)) << row.toStdString();
        EXPECT_FALSE(seen.contains(row)) << "twice: " << row.toStdString();
        seen << row;
        const int level = row.section(u'|', 1, 1).toInt();
        EXPECT_LE(level, previousLevel) << row.toStdString();
        previousLevel = level;
    }
    ASSERT_TRUE(refreshAndWait(window));
    EXPECT_EQ(window.lvLevels().rowCount(), 0);
    EXPECT_TRUE(messages.shown.empty());
}
