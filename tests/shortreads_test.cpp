// Reads that give fewer bytes than were asked for, as FUSE daemons and network file systems may
// give them at any point of a file: nothing of the file may be lost.
#include "accountgenerator.h"
#include "programrun.h"
#include "scan/live/folderwatch.h"
#include "scan/reading/inifiles.h"
#include "tempfolder.h"

#include <QThread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

using namespace orvantis;

namespace {

template <size_t Most> ssize_t readAtMost(int fd, void *buffer, size_t size) {
    return ::read(fd, buffer, std::min(size, Most));
}

// An account file whose values stand after `padding` bytes of comment lines.
QByteArray paddedAccountFile(const QByteArray &login, int level, size_t padding) {
    QByteArray text;
    while (size_t(text.size()) < padding)
        text += "; " + QByteArray(60, 'x') + "\r\n";
    return text + "[GENERAL]\r\nLogin=" + login +
           "\r\n[CHAR2]\r\nName=Late\r\nLevel=" + QByteArray::number(level) + "\r\n";
}

// A FUSE mount of `source` at `mountPoint` whose every read gives at most `most` bytes; it is
// unmounted when this goes.
class ShortReadMount {
public:
    ShortReadMount(const QString &source, const QString &mountPoint, int most)
        : mountPoint_(mountPoint.toUtf8()) {
        if (::access("/dev/fuse", R_OK | W_OK) != 0) {
            why_ = "no /dev/fuse";
            return;
        }
        if (::system("/usr/bin/python3 -c 'import fusepy' 2>/dev/null") != 0) {
            why_ = "no fusepy for /usr/bin/python3 (Debian's python3-fusepy)";
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            const QByteArray src = source.toUtf8(), count = QByteArray::number(most);
            ::execl(SHORT_READ_FS_PY, SHORT_READ_FS_PY, src.constData(), mountPoint_.constData(),
                    count.constData(), static_cast<char *>(nullptr));
            ::_exit(127);
        }
        for (int tries = 0; tries < 100 && !mounted(); ++tries)
            QThread::msleep(50);
        if (!mounted())
            why_ = "the FUSE file system did not mount (no FUSE in this container?)";
    }
    ~ShortReadMount() {
        if (pid_ <= 0)
            return;
        if (mounted())
            EXPECT_EQ(::system(("fusermount -u '" + mountPoint_ + "'").constData()), 0);
        else
            ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    // Why it could not be had; empty once mounted.
    const QByteArray &whyNot() const { return why_; }

private:
    bool mounted() const {
        QFile mounts(QStringLiteral("/proc/self/mounts"));
        return mounts.open(QIODevice::ReadOnly) &&
               mounts.readAll().contains(" " + mountPoint_ + " ");
    }
    QByteArray mountPoint_;
    QByteArray why_;
    pid_t pid_ = -1;
};

} // namespace

TEST(ShortReads, ALookupReadsOnPastEveryShortReadToTheEndOfTheFile) {
    TempFolder folder;
    // One file that fits a read, one longer than the pieces files are read in.
    for (size_t padding : {size_t(100), kFileReadPiece + 5000}) {
        const QByteArray path =
            folder.write("a.ini", paddedAccountFile("late", 37, padding)).toUtf8();
        for (ReadCall read : {&readAtMost<1>, &readAtMost<7>, &readAtMost<4096>}) {
            IniLookup lookup({{"GENERAL", "Login"}, {"CHAR2", "Level"}});
            const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
            const FileRead got =
                readOpenedIniFile(lookup, fd, nullptr, read, ShortReads::MayComeEarly);
            EXPECT_EQ(got.outcome, FileRead::Read);
            EXPECT_EQ(lookup.value(0), QStringLiteral("late")) << "padding " << padding;
            EXPECT_EQ(lookup.value(1), QStringLiteral("37")) << "padding " << padding;
        }
    }
}

TEST(ShortReads, OrvantisRankThroughAFuseMountGivingShortReadsHasEveryRow) {
    struct Case {
        int most;
        const char *what;
    };
    for (const Case c : {Case{64, "generated accounts, 64 bytes a read"},
                         Case{32 * 1024, "1 MB files, their keys at the end, 32 KiB a read"}}) {
        TempFolder source, mount;
        if (c.most == 64) {
            ASSERT_TRUE(bench::generateAccounts(source.path(), 400, 17));
        } else {
            for (int i = 0; i < 12; ++i)
                source.write(QStringLiteral("accounts/big%1.ini").arg(i),
                             paddedAccountFile("big" + QByteArray::number(i), 10 + i, 1 << 20));
        }
        const ProgramRun reference = runProgram(ORVANTIS_RANK_EXE, {source.path().toUtf8()});
        ASSERT_EQ(reference.status, 0);
        ASSERT_GT(reference.out.count('\n'), 10);

        const ShortReadMount shortReads(source.path(), mount.path(), c.most);
        if (!shortReads.whyNot().isEmpty())
            GTEST_SKIP() << shortReads.whyNot().constData();
        const ProgramRun got = runProgram(ORVANTIS_RANK_EXE, {mount.path().toUtf8()});
        EXPECT_EQ(got.status, 0) << c.what;
        EXPECT_EQ(got.err, "") << c.what;
        EXPECT_TRUE(got.out == reference.out) << c.what << ": " << got.out.count('\n') << " rows";
    }
}

TEST(ShortReads, AWatchOnAFuseMountSaysThatItsChangesAreNotReported) {
    TempFolder source, mount;
    source.write("accounts/a.ini", "[GENERAL]\nLogin=a\n");
    const ShortReadMount fuse(source.path(), mount.path(), 4096);
    if (!fuse.whyNot().isEmpty())
        GTEST_SKIP() << fuse.whyNot().constData();
    const std::unique_ptr<FolderWatch> watch = makeSystemFolderWatch(nullptr);
    const auto fuseWatch = watch->watch(mount.path("accounts"), [](std::vector<FolderEvent>) {});
    ASSERT_TRUE(fuseWatch.folder);
    EXPECT_EQ(fuseWatch.folder->text,
              "changes are not reported on the accounts folder's file system (a "
              "network or FUSE file system)");
    EXPECT_FALSE(watch->watch(source.path("accounts"), [](std::vector<FolderEvent>) {}).folder)
        << "the same folder on its own disk is watched";

    // A live leaderboard that would never change says so and ends, rather than run on.
    const QByteArray out = source.path("top.tsv").toUtf8();
    const ProgramRun run = runProgram("/usr/bin/timeout", {"60", ORVANTIS_RANK_EXE, "--watch",
                                                           "--output", out, mount.path().toUtf8()});
    EXPECT_EQ(run.status, 70);
    EXPECT_EQ(run.err.toStdString(),
              "orvantis-rank: changes are not reported on the accounts folder's file system (a "
              "network or FUSE file system)\n");
}
