// The scan reads many account files at once, through io_uring or blocking reads: whatever the
// number of reads in flight and the order they end in, it gives the rows and the report of
// reading one file after another, and stops or fails as asked and as the system makes it.
#include "scanhelpers.h"

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
    // The ring is to be had where the system offers it and the folder's file system is trusted
    // with it; then it reads most files, and must be seen to.
    const int folderFd = ::open(folder.path().toUtf8().constData(), O_RDONLY | O_DIRECTORY);
    const bool ringHere = FileRing::create(4, 4096) && FileRing::trustsFileSystemOf(folderFd);
    ::close(folderFd);
    if (!ringHere)
        std::printf("no io_uring, or not on this file system: the ring is not seen to run\n");
    for (int readers : {1, 2, 3, 64, 500}) {
        for (FileReading reading : {FileReading::Ring, FileReading::Blocking}) {
            const Scan scan = scanWith(folder.path(), withReaders(readers, reading));
            expectSameScan(scan, reference, reading == FileReading::Ring ? "ring" : "blocking");
            if (reading == FileReading::Blocking || !ringHere)
                EXPECT_EQ(scan.readThroughRing, 0u) << readers << " readers";
            else
                EXPECT_GT(scan.readThroughRing, size_t(reference.rows.size()) * 9 / 10)
                    << readers << " readers: the ring ran";
        }
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
        const ScanReport report =
            GetScores(folder.path(), list, {messages, QLocale::c()}, withReaders(8));
        if (!report.failure)
            std::_Exit(2);
        std::fprintf(stderr, "%s (%d)", report.failure->text.toUtf8().constData(),
                     report.failure->number);
        std::_Exit(list.listItems().Count() == 0 &&
                           report.failure->what == ScanFailure::FolderUnreadable &&
                           report.failure->systemError == EACCES
                       ? 0
                       : 1);
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
        return readIniFile(lookup, path, &stop);
    };
    RecordingMessageBox messages;
    ReportList list(reportColumnTitles());
    const ScanReport report = GetScores(folder.path(), list, {messages, QLocale::c()}, settings);
    EXPECT_TRUE(report.stopped);
    EXPECT_FALSE(report.failure);
    EXPECT_EQ(list.listItems().Count(), 0);
    EXPECT_EQ(progress.filesFound, 500u);
    EXPECT_LT(progress.filesRead, 500u);
}

TEST(BackgroundScan, HandsOverTheRowsOfTheScanAndItsFailures) {
    TempFolder folder;
    ASSERT_TRUE(bench::generateAccounts(folder.path(), 800, 9));
    const Scan expected = scanWith(folder.path(), withReaders(1));

    BackgroundScan scan(folder.path());
    ASSERT_TRUE(scan.waitFor(std::chrono::seconds(60)));
    EXPECT_EQ(scan.filesFound(), 800u);
    EXPECT_EQ(scan.filesRead(), 800u);
    const ScanResult result = scan.take();
    ASSERT_TRUE(result.report.whole());
    ASSERT_TRUE(result.records);
    EXPECT_EQ(rowTexts(*result.records), expected.rows) << "the ranking of GetScores";

    // What a reader raises on another thread comes back as the scan's failure, with its text
    // and number, and no rows.
    ScanSettings failing;
    failing.reader = [](IniLookup &, const QByteArray &, const std::atomic<bool> &) -> FileRead {
        throw Failure(kPermissionDenied, QStringLiteral("Cannot read"));
    };
    BackgroundScan broken(folder.path(), failing);
    ASSERT_TRUE(broken.waitFor(std::chrono::seconds(60)));
    const ScanResult failed = broken.take();
    ASSERT_TRUE(failed.report.failure);
    EXPECT_EQ(failed.report.failure->text, "Cannot read");
    EXPECT_EQ(failed.report.failure->number, kPermissionDenied);
    EXPECT_TRUE(!failed.records || failed.records->size() == 0);
}

TEST(ConcurrentScan, ReadsTheBlockingWayOnFileSystemsTheRingIsNotTrustedOn) {
    const int proc = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(proc, 0);
    EXPECT_FALSE(FileRing::trustsFileSystemOf(proc));
    ::close(proc);
    EXPECT_FALSE(FileRing::trustsFileSystemOf(-1));

    // A FUSE mount with direct I/O, where ring reads have been seen to give more than the file.
    TempFolder source, mount;
    ASSERT_TRUE(bench::generateAccounts(source.path(), 400, 31));
    if (::access("/dev/fuse", R_OK | W_OK) != 0 || ::system("command -v bindfs >/dev/null") != 0)
        GTEST_SKIP() << "no FUSE here (/dev/fuse or bindfs missing)";
    const QByteArray command =
        "bindfs -o direct_io '" + source.path().toUtf8() + "' '" + mount.path().toUtf8() + "'";
    if (::system(command.constData()) != 0)
        GTEST_SKIP() << "bindfs could not mount (no FUSE in this container)";
    const int folder = ::open(mount.path().toUtf8().constData(), O_RDONLY | O_DIRECTORY);
    EXPECT_FALSE(FileRing::trustsFileSystemOf(folder));
    ::close(folder);
    const Scan reference = scanWith(source.path(), oneByOne());
    expectSameScan(scanWith(mount.path(), withReaders(64)), reference, "through FUSE");
    EXPECT_EQ(::system(("fusermount -u '" + mount.path().toUtf8() + "'").constData()), 0);
}
