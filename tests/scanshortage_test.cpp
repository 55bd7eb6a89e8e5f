// The scan when the system runs short: descriptors, threads, or a ring it keeps refusing. Every
// row, or a failure that says why: never a row less.
#include "scanhelpers.h"

namespace {

// A reader with room for `descriptors` files open at once: past that, an open fails for the
// program's own want of descriptors (or, for some files, of memory), as under a resource limit.
ScanSettings withRoomFor(int readsInFlight, int descriptors) {
    ScanSettings settings = withReaders(readsInFlight);
    auto open = std::make_shared<std::atomic<int>>(0);
    settings.reader = [descriptors, open](IniLookup &lookup, const QByteArray &path,
                                          const std::atomic<bool> &stop) {
        if (open->fetch_add(1) >= descriptors) {
            open->fetch_sub(1);
            return FileRead{FileRead::Failed, qHash(path) % 3 == 0 ? ENOMEM : EMFILE};
        }
        std::this_thread::yield(); // held open a while, so that others find no room
        const FileRead read = readIniFile(lookup, path, &stop);
        open->fetch_sub(1);
        return read;
    };
    return settings;
}

// Runs `work` in a child process and gives its exit status (-1 when a signal ended it), within
// a minute: a child that hangs is killed and counts as a signal.
template <typename Work> int inChild(Work &&work) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(60);
        work();
        std::_Exit(99);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(ConcurrentScan, FilesThatTheProgramLackedDescriptorsOrMemoryForAreReadAgainNeverLeftOut) {
    TempFolder folder;
    ASSERT_TRUE(bench::generateAccounts(folder.path(), 2000, 17));
    const Scan reference = scanWith(folder.path(), oneByOne());
    for (int readers : {4, 64})
        for (int descriptors : {1, 3, 40})
            expectSameScan(scanWith(folder.path(), withRoomFor(readers, descriptors)), reference,
                           ("room for " + std::to_string(descriptors) + " of " +
                            std::to_string(readers) + " reads")
                               .c_str());
    // When even one file at a time cannot be had, the scan fails and says so: never a row less.
    ScanSettings never = withReaders(8);
    never.reader = [](IniLookup &, const QByteArray &, const std::atomic<bool> &) {
        return FileRead{FileRead::Failed, EMFILE};
    };
    RecordingMessageBox messages;
    ReportList list(reportColumnTitles());
    const ScanReport report = GetScores(folder.path(), list, {messages, QLocale::c()}, never);
    ASSERT_TRUE(report.failure) << "no failure";
    EXPECT_EQ(report.failure->what, ScanFailure::FileUnopenable);
    EXPECT_EQ(report.failure->systemError, EMFILE);
    EXPECT_EQ(report.failure->number, kTooManyFiles);
    EXPECT_TRUE(report.failure->text.startsWith("Cannot open the account file "))
        << report.failure->text.toStdString();
    EXPECT_TRUE(report.failure->text.endsWith(": Too many open files"));
    EXPECT_EQ(list.listItems().Count(), 0);
}

TEST(ConcurrentScan, UnderAnyDescriptorLimitGivesEveryRowOrAClearFailure) {
    TempFolder folder;
    ASSERT_TRUE(bench::generateAccounts(folder.path(), 1500, 23));
    const Scan reference = scanWith(folder.path(), oneByOne());
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers' own runtime needs descriptors of its own for its checks (it reads
    // /proc/self/maps, and opens a pipe to see whether an object's memory may be read): with the
    // program's last ones taken, it reports objects it cannot see.
    constexpr int kFewest = 8; // leak checking takes one more
#else
    constexpr int kFewest = 4;
#endif
    for (int limit = kFewest; limit <= 40; limit += limit < 12 ? 1 : 4) {
        for (FileReading reading : {FileReading::Ring, FileReading::Blocking}) {
            const int status = inChild([&] {
                // The soft limit only, raised again before the outcome is looked at: a
                // sanitizer's runtime needs a descriptor or two of its own for its checks.
                rlimit all{};
                ::getrlimit(RLIMIT_NOFILE, &all);
                rlimit few = all;
                few.rlim_cur = static_cast<rlim_t>(limit);
                if (::setrlimit(RLIMIT_NOFILE, &few) != 0)
                    std::_Exit(3);
                RecordingMessageBox messages;
                ReportList list(reportColumnTitles());
                const ScanReport report = GetScores(folder.path(), list, {messages, QLocale::c()},
                                                    withReaders(64, reading));
                ::setrlimit(RLIMIT_NOFILE, &all);
                if (report.failure)
                    std::_Exit(report.failure->number == kTooManyFiles ? 2 : 4);
                std::_Exit(rowTexts(list) == reference.rows ? 0 : 1);
            });
            EXPECT_TRUE(status == 0 || status == 2)
                << "limit " << limit << (reading == FileReading::Ring ? " ring" : " blocking")
                << ": status " << status << " (1: rows lost, -1: a signal or a hang)";
            if (limit >= 12) {
                EXPECT_EQ(status, 0) << "limit " << limit << ": room for one file at a time";
            }
        }
    }
}

TEST(ConcurrentScan, ARingThatTheSystemKeepsRefusingGivesWayToBlockingReads) {
    TempFolder folder;
    ASSERT_TRUE(bench::generateAccounts(folder.path(), 1200, 29));
    const Scan reference = scanWith(folder.path(), oneByOne());
    if (!FileRing::create(4, 4096))
        GTEST_SKIP() << "this system offers no io_uring";
    for (int error : {EBUSY, EINTR, EAGAIN, EBADF}) {
        for (long from : {0L, 1L, 4L, 30L}) {
            ScanSettings settings = withReaders(64);
            settings.makeRing = [from, error](unsigned slotCount, size_t pieceSize) {
                return FileRing::create(slotCount, pieceSize, RingFaults{from, error});
            };
            const std::string what =
                "calls refused from " + std::to_string(from) + " with " + std::strerror(error);
            const Scan scan = scanWith(folder.path(), settings);
            expectSameScan(scan, reference, what.c_str());
            if (from == 0) { // refused from the first call: nothing came through a ring
                EXPECT_EQ(scan.readThroughRing, 0u) << what;
            }
        }
    }
}

TEST(ConcurrentScan, WithoutAThreadForTheScanTheWindowsScanFailsAndSaysWhy) {
    TempFolder folder;
    folder.write("accounts/a.ini", accountFile("a", 1));
    const int status = inChild([&] {
        const rlimit none{1, 1}; // this process alone: no thread more
        if (::chmod(folder.path().toUtf8(), 0755) != 0 || !dropPrivileges() ||
            ::setrlimit(RLIMIT_NPROC, &none) != 0)
            std::_Exit(3);
        BackgroundScan scan(folder.path());
        if (!scan.waitFor(std::chrono::seconds(10)))
            std::_Exit(4);
        const ScanResult result = scan.take();
        if (const auto &failure = result.report.failure) {
            std::fprintf(stderr, "%s\n", failure->text.toUtf8().constData());
            std::_Exit(failure->text.startsWith("Cannot start the scan: ") ? 0 : 5);
        }
        std::_Exit(result.records ? 6 : 7); // the thread was had after all
    });
    if (status == 6)
        GTEST_SKIP() << "the system gave the thread despite the limit";
    EXPECT_EQ(status, 0);
}
