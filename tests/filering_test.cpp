// The ring opens, reads and closes many files of a folder at once. Every file started comes back
// exactly once, with its first piece or the error the system gave, and nothing in the ring can
// keep it from being let go.
#include "scan/reading/inifiles.h"
#include "scan/system/filering.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <vector>

using namespace orvantis;

// Every allocation of this test program fails while this is set on the thread that makes it.
thread_local bool allocationsFail = false;

void *operator new(size_t size) {
    if (allocationsFail)
        throw std::bad_alloc();
    if (void *memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}
void operator delete(void *memory) noexcept {
    std::free(memory);
}
void operator delete(void *memory, size_t) noexcept {
    std::free(memory);
}

namespace {

constexpr size_t kPiece = 64 * 1024;

struct OpenFolder {
    explicit OpenFolder(const QString &path)
        : fd(::open(path.toUtf8().constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    ~OpenFolder() { ::close(fd); }
    int fd;
};

struct Collected {
    int result;
    std::string bytes;
};

// Starts every name with a ring of `slots` slots and collects them all; a file that never comes
// back ends the test instead of holding it.
std::map<size_t, Collected> readAll(FileRing &ring, int folderFd,
                                    const std::vector<std::string> &names, int openFlags) {
    std::map<size_t, Collected> got;
    size_t next = 0;
    for (int idleRounds = 0; next < names.size() || ring.busy() > 0;) {
        while (next < names.size() && ring.hasFreeSlot()) {
            ring.start(folderFd, names[next].c_str(), openFlags, next);
            ++next;
        }
        const size_t before = got.size();
        ring.collect(std::chrono::milliseconds(100), [&](const RingRead &read) {
            EXPECT_EQ(got.count(read.tag), 0u) << "tag " << read.tag << " came back twice";
            got[read.tag] = {read.result,
                             read.result > 0 ? std::string(read.data, read.result) : ""};
        });
        idleRounds = got.size() == before ? idleRounds + 1 : 0;
        if (idleRounds > 50) {
            ADD_FAILURE() << "files held in the ring: " << ring.busy();
            break;
        }
    }
    return got;
}

} // namespace

TEST(FileRing, GivesEveryFileItsFirstPieceOrItsError) {
    TempFolder folder;
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i) { // many more files than slots
        names.push_back("f" + std::to_string(i));
        folder.write(QString::fromStdString(names.back()),
                     QByteArray("file ") + QByteArray::number(i));
    }
    folder.write("big", QByteArray(100 * 1024, 'b'));
    folder.write("empty", "");
    folder.mkdir("dir");
    ASSERT_EQ(::mkfifo(folder.path("fifo").toUtf8().constData(), 0600), 0);
    const size_t firstOther = names.size();
    for (const char *name : {"big", "empty", "dir", "gone", "fifo"})
        names.emplace_back(name);

    std::unique_ptr<FileRing> ring = FileRing::create(8, kPiece);
    if (!ring)
        GTEST_SKIP() << "this system offers no io_uring";
    const OpenFolder open(folder.path());
    const std::map<size_t, Collected> got = readAll(*ring, open.fd, names, kIniOpenFlags);

    ASSERT_EQ(got.size(), names.size());
    for (size_t i = 0; i < firstOther; ++i) {
        const std::string expected = "file " + std::to_string(i);
        EXPECT_EQ(got.at(i).result, static_cast<int>(expected.size())) << names[i];
        EXPECT_EQ(got.at(i).bytes, expected) << names[i];
    }
    EXPECT_EQ(got.at(firstOther).result, static_cast<int>(kPiece)) << "a piece of the big file";
    EXPECT_EQ(got.at(firstOther + 1).result, 0) << "empty";
    EXPECT_EQ(got.at(firstOther + 2).result, -EISDIR);
    EXPECT_EQ(got.at(firstOther + 3).result, -ENOENT);
    // Opened without waiting for a writer; reading it gives nothing, or says it would wait.
    const int fifo = got.at(firstOther + 4).result;
    EXPECT_TRUE(fifo == 0 || fifo == -EAGAIN) << fifo;
    EXPECT_EQ(ring->busy(), 0u);
}

TEST(FileRing, CancellingGivesUpOnFilesThatWouldWaitForever) {
    TempFolder folder;
    ASSERT_EQ(::mkfifo(folder.path("fifo").toUtf8().constData(), 0600), 0);
    folder.write("plain", "plain");
    std::unique_ptr<FileRing> ring = FileRing::create(4, kPiece);
    if (!ring)
        GTEST_SKIP() << "this system offers no io_uring";
    const OpenFolder open(folder.path());
    // Opened for reading and waiting: with no writer, these opens never end on their own.
    for (size_t tag = 0; tag < 3; ++tag)
        ring->start(open.fd, "fifo", O_RDONLY, tag);
    ring->start(open.fd, "plain", O_RDONLY, 3);
    std::map<size_t, int> results;
    const auto collect = [&] {
        ring->collect(std::chrono::milliseconds(50),
                      [&](const RingRead &read) { results[read.tag] = read.result; });
    };
    for (int round = 0; round < 20 && results.count(3) == 0; ++round)
        collect();
    EXPECT_EQ(results[3], 5) << "the plain file is not held up by the others";
    EXPECT_EQ(results.size(), 1u);

    ring->cancelAll();
    const auto start = std::chrono::steady_clock::now();
    while (ring->busy() > 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
        collect();
    ASSERT_EQ(ring->busy(), 0u) << "cancelled files still held";
    for (size_t tag = 0; tag < 3; ++tag)
        EXPECT_LT(results.at(tag), 0) << "cancelled open " << tag;
    // The slots are free for new files.
    const std::map<size_t, Collected> again = readAll(*ring, open.fd, {"plain"}, kIniOpenFlags);
    EXPECT_EQ(again.at(0).bytes, "plain");
}

TEST(FileRing, CollectingAllocatesNothingSoNoFailureCanLeaveACompletionHalfTaken) {
    TempFolder folder;
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i) {
        names.push_back("f" + std::to_string(i));
        folder.write(QString::fromStdString(names.back()), "x");
    }
    std::unique_ptr<FileRing> ring = FileRing::create(16, kPiece);
    if (!ring)
        GTEST_SKIP() << "this system offers no io_uring";
    const OpenFolder open(folder.path());
    std::vector<int> seen(names.size(), 0); // room made before allocations fail
    size_t next = 0;
    for (int round = 0; round < 200 && (next < names.size() || ring->busy() > 0); ++round) {
        while (next < names.size() && ring->hasFreeSlot()) {
            ring->start(open.fd, names[next].c_str(), kIniOpenFlags, next);
            ++next;
        }
        allocationsFail = true;
        try {
            ring->collect(std::chrono::milliseconds(100),
                          [&](const RingRead &read) { ++seen[read.tag]; });
        } catch (const std::bad_alloc &) {
            allocationsFail = false;
            FAIL() << "collecting allocated";
        }
        allocationsFail = false;
    }
    EXPECT_EQ(ring->busy(), 0u);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), static_cast<long>(names.size()))
        << "every file once";
}

TEST(FileRing, ARingThatTheSystemKeepsRefusingIsGivenUpWithItsFilesToBeReadAnotherWay) {
    TempFolder folder;
    for (int i = 0; i < 8; ++i)
        folder.write(QStringLiteral("f%1").arg(i), "x");
    const OpenFolder open(folder.path());
    for (int error : {EBUSY, EINTR, EBADF}) {
        // Nothing is ever sent: every file started stays in the ring.
        std::unique_ptr<FileRing> ring = FileRing::create(8, kPiece, {0, error});
        if (!ring)
            GTEST_SKIP() << "this system offers no io_uring";
        const std::vector<std::string> names = {"f0", "f1", "f2", "f3"};
        for (size_t tag = 0; tag < names.size(); ++tag)
            ASSERT_TRUE(ring->start(open.fd, names[tag].c_str(), kIniOpenFlags, tag));
        const auto begun = std::chrono::steady_clock::now();
        while (!ring->broken() &&
               std::chrono::steady_clock::now() - begun < std::chrono::seconds(10))
            ring->collect(std::chrono::milliseconds(10), [](const RingRead &) {});
        ASSERT_TRUE(ring->broken()) << std::strerror(error);
        EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(3));
        std::vector<size_t> held = ring->inFlight();
        std::sort(held.begin(), held.end());
        EXPECT_EQ(held, std::vector<size_t>({0, 1, 2, 3}));
        EXPECT_FALSE(ring->hasFreeSlot());
        EXPECT_FALSE(ring->start(open.fd, "f4", kIniOpenFlags, 4))
            << "a broken ring starts nothing";
        ring.reset(); // and lets go without waiting for what never comes
    }
    // A few refusals, then calls that go through: the ring works on.
    std::unique_ptr<FileRing> ring = FileRing::create(8, kPiece, {-1, 0});
    ASSERT_TRUE(ring);
    const std::map<size_t, Collected> got = readAll(*ring, open.fd, {"f0", "f5"}, kIniOpenFlags);
    EXPECT_EQ(got.at(1).bytes, "x");
    EXPECT_FALSE(ring->broken());
}
