// The scan reads its files with many threads; its answer must be that of reading them one after
// another: the same rows in the same order, the same files reported, the same failures.
#include "accountfiles.h"
#include "accountgenerator.h"
#include "listhelpers.h"
#include "platform/failure.h"
#include "privileges.h"
#include "recordingmessagebox.h"
#include "scan/backgroundscan.h"
#include "scan/filering.h"
#include "scan/getscores.h"
#include "scan/reportcolumns.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>

using namespace orvantis;

namespace {

struct Scan {
    QStringList rows;
    QStringList skipped;
};

Scan scanWith(const QString &folder, ScanSettings settings) {
    RecordingMessageBox messages;
    ReportList list(reportColumnTitles());
    const ScanReport report = GetScores(folder, list, {messages, QLocale::c()}, settings);
    Scan scan{rowTexts(list), {}};
    for (const SkippedFile &file : report.skipped)
        scan.skipped << file.name;
    EXPECT_TRUE(messages.shown.empty());
    return scan;
}

ScanSettings withReaders(int readsInFlight, FileReading reading = FileReading::Ring) {
    ScanSettings settings;
    settings.readsInFlight = readsInFlight;
    settings.reading = reading;
    return settings;
}

// The reference: one blocking read after another.
ScanSettings oneByOne() {
    return withReaders(1, FileReading::Blocking);
}

// A reader that holds some files a while, so that reads end in another order than they began.
ScanSettings withShuffledReads(int readsInFlight) {
    ScanSettings settings = withReaders(readsInFlight);
    settings.reader = [](IniLookup &lookup, const QByteArray &path, const std::atomic<bool> &stop) {
        const size_t hash = qHash(path);
        for (size_t spin = 0; spin < hash % 7; ++spin)
            std::this_thread::yield();
        return lookup.readFile(path, &stop);
    };
    return settings;
}

void expectSameScan(const Scan &got, const Scan &expected, const char *what) {
    EXPECT_EQ(got.rows, expected.rows) << what;
    EXPECT_EQ(got.skipped, expected.skipped) << what;
}

} // namespace

TEST(ConcurrentScan, GivesTheRowsOfAOneByOneScanOnGeneratedFolders) {
    TempFolder folder;
    ASSERT_TRUE(bench::generateAccounts(folder.path(), 3000, 11));
    // Files the scan leaves out, and ties that only the listing order decides.
    folder.write("accounts/big1.ini", accountFile("big", {"3000000000"}));
    folder.write("accounts/BIG2.INI", accountFile("big", {"-3000000000"}));
    for (const char *name : {"tie-a.ini", "Tie-A.ini", "tie-b.ini"})
        folder.write(QStringLiteral("accounts/") + name, accountFile(name, {"77", "77"}));
    // Files that do not fit in one piece, read on where their first piece ends, and an empty one.
    const QByteArray padding = "; " + QByteArray(200, 'x') + "\n";
    folder.write("accounts/long.ini", padding.repeated(400) + accountFile("long", {"5", "6"}));
    QByteArray exact = accountFile("exact", {"9"});
    exact += padding.repeated(330);
    exact.resize(64 * 1024, ' ');
    folder.write("accounts/exact.ini", exact);
    folder.write("accounts/empty.ini", "");
    const Scan reference = scanWith(folder.path(), oneByOne());
    ASSERT_GT(reference.rows.size(), 2900);
    EXPECT_TRUE(reference.rows.contains("long|6|2|Two")) << "the long file's row";
    EXPECT_TRUE(reference.rows.contains("exact|9|1|One"));
    EXPECT_EQ(reference.skipped, QStringList({"big1.ini", "BIG2.INI"}));
    for (int readers : {1, 2, 3, 64, 500}) {
        for (FileReading reading : {FileReading::Ring, FileReading::Blocking})
            expectSameScan(scanWith(folder.path(), withReaders(readers, reading)), reference,
                           reading == FileReading::Ring ? "ring" : "blocking");
        expectSameScan(scanWith(folder.path(), withShuffledReads(readers)), reference, "shuffled");
    }
}

// From here on this process may not set up an io_uring, as in a container that forbids it.
bool forbidIoUring() {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_io_uring_setup, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// To be run in a child: makes a folder of 600 accounts and reads it one file after another;
// then, once `limit` has narrowed what this process may do (false when it could not), scans it
// with 64 reads in flight, read the given way. Exits 0 when that scan gives the same answer.
template <typename Limit>
[[noreturn]] void scanSameWhenLimited(int seed, FileReading reading, Limit &&limit) {
    TempFolder folder;
    if (!bench::generateAccounts(folder.path(), 600, seed))
        std::_Exit(3);
    const Scan expected = scanWith(folder.path(), oneByOne());
    if (expected.rows.size() < 500 || !limit(folder))
        std::_Exit(4);
    const Scan got = scanWith(folder.path(), withReaders(64, reading));
    std::_Exit(got.rows == expected.rows && got.skipped == expected.skipped ? 0 : 1);
}

TEST(ConcurrentScan, ReadsTheBlockingWayWhereTheSystemForbidsTheRing) {
    EXPECT_EXIT(scanSameWhenLimited(5, FileReading::Ring,
                                    [](const TempFolder &) {
                                        return forbidIoUring() && !FileRing::create(4, 4096);
                                    }),
                ::testing::ExitedWithCode(0), "");
}

TEST(ConcurrentScan, AnUnreadableFolderFailsAsBefore) {
    // In a child that file permissions apply to, even when the tests run as root.
    const auto scanUnreadable = [] {
        TempFolder folder;
        folder.write("accounts/a.ini", accountFile("a", 1));
        if (::chmod(folder.path().toUtf8(), 0755) != 0 ||
            ::chmod(folder.path("accounts").toUtf8(), 0) != 0 || !dropPrivileges())
            std::_Exit(3);
        RecordingMessageBox messages;
        ReportList list(reportColumnTitles());
        try {
            GetScores(folder.path(), list, {messages, QLocale::c()}, withReaders(8));
        } catch (const Failure &failure) {
            std::fprintf(stderr, "%s (%d)", failure.what(), failure.number());
            std::_Exit(list.listItems().Count() == 0 ? 0 : 1);
        }
        std::_Exit(2);
    };
    EXPECT_EXIT(scanUnreadable(), ::testing::ExitedWithCode(0),
                "Cannot read the folder .*/accounts/: Permission denied \\(70\\)");
}

TEST(ConcurrentScan, ReadsWithTheThreadsItGetsWhenTheSystemGivesFewer) {
    // A child that may have three threads at most asks for 64 blocking readers.
    EXPECT_EXIT(scanSameWhenLimited(3, FileReading::Blocking,
                                    [](const TempFolder &folder) {
                                        const rlimit few{3, 3};
                                        return ::chmod(folder.path().toUtf8(), 0755) == 0 &&
                                               dropPrivileges() &&
                                               ::setrlimit(RLIMIT_NPROC, &few) == 0;
                                    }),
                ::testing::ExitedWithCode(0), "");
}

TEST(ConcurrentScan, StopsWhenAskedAndLeavesTheListAsItWas) {
    TempFolder folder;
    ASSERT_TRUE(bench::generateAccounts(folder.path(), 500, 5));
    ScanProgress progress;
    ScanSettings settings = withReaders(4);
    settings.progress = &progress;
    settings.reader = [&](IniLookup &lookup, const QByteArray &path,
                          const std::atomic<bool> &stop) {
        if (progress.filesRead >= 100)
            progress.stop = true; // as a window closed mid-scan would
        return lookup.readFile(path, &stop);
    };
    RecordingMessageBox messages;
    ReportList list(reportColumnTitles());
    EXPECT_THROW(GetScores(folder.path(), list, {messages, QLocale::c()}, settings), ScanStopped);
    EXPECT_EQ(list.listItems().Count(), 0);
    EXPECT_EQ(progress.filesFound, 500u);
    EXPECT_LT(progress.filesRead, 500u);
}

TEST(BackgroundScan, HandsOverTheRowsOfTheScanAndItsFailures) {
    TempFolder folder;
    ASSERT_TRUE(bench::generateAccounts(folder.path(), 800, 9));
    const Scan expected = scanWith(folder.path(), withReaders(1));

    BackgroundScan scan(folder.path(), QLocale::c());
    ASSERT_TRUE(scan.waitFor(std::chrono::seconds(60)));
    EXPECT_EQ(scan.filesFound(), 800u);
    EXPECT_EQ(scan.filesRead(), 800u);
    BackgroundScan::Outcome outcome = scan.take();
    ASSERT_FALSE(outcome.error);
    ASSERT_TRUE(outcome.rows);
    EXPECT_EQ(rowTexts(*outcome.rows), expected.rows);
    EXPECT_TRUE(outcome.rows->isSorted());

    // A failure inside the scan comes out whole, to be raised where the outcome is taken.
    ScanSettings failing;
    failing.reader = [](IniLookup &, const QByteArray &, const std::atomic<bool> &) -> FileRead {
        throw Failure(kPermissionDenied, QStringLiteral("Cannot read"));
    };
    BackgroundScan broken(folder.path(), QLocale::c(), failing);
    ASSERT_TRUE(broken.waitFor(std::chrono::seconds(60)));
    const BackgroundScan::Outcome failed = broken.take();
    ASSERT_TRUE(failed.error);
    EXPECT_THROW(std::rethrow_exception(failed.error), Failure);
    EXPECT_FALSE(failed.rows);
}
