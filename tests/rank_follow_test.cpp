// orvantis-rank --watch as a service that runs for months: the folder its path names re-pointed,
// a disk mounted after the start, account files written through another name, an output file
// that cannot be written for a while, and the output file's owner. The output is held against
// an independent reference of the folder's rows after each change.
#include "rankendtoend.h"
#include "smalltmpfs.h"

#include <sys/mount.h>

namespace {

// The TSV ranking that the independent reference makes of a program folder's accounts.
QByteArray referenceOf(const QString &programFolder) {
    return runProgram("/usr/bin/python3", {REFERENCE_RANKING_PY, programFolder.toUtf8()}).out;
}

// Waits until the output file holds the reference ranking of the program folder.
bool showsReferenceOf(const QString &out, const QString &programFolder, int ms = 10000) {
    return QTest::qWaitFor([&] { return contentsOf(out) == referenceOf(programFolder); }, ms);
}

// Makes `target` the link `link` leads to, as `ln -sfn` does: a new link renamed over the old.
bool relink(const QString &target, const QString &link) {
    const QByteArray made = (link + ".new").toUtf8();
    return ::symlink(target.toUtf8().constData(), made.constData()) == 0 &&
           ::rename(made.constData(), link.toUtf8().constData()) == 0;
}

} // namespace

TEST_F(RankEndToEnd, FollowsTheFolderItsPathLeadsToWhenThePathIsRepointed) {
    struct Way {
        const char *what;
        std::function<bool(const QString &root)> repoint; // the path "game" to folder "new"
    };
    const Way ways[] = {
        {"a link retargeted", [](const QString &root) { return relink("new", root + "/game"); }},
        {"swapped by two renames",
         [](const QString &root) {
             return QDir(root).rename("game", "old") && QDir(root).rename("new", "game");
         }},
        {"removed and made again",
         [](const QString &root) {
             return QDir(root + "/game").removeRecursively() && QDir(root).rename("new", "game");
         }},
    };
    for (const Way &way : ways) {
        TempFolder root;
        root.write("old/accounts/a.ini", accountFile("alice", 10));
        root.write("old/accounts/b.ini", accountFile("bob", 20));
        root.write("new/accounts/a.ini", accountFile("carol", 30));
        root.write("new/accounts/c.ini", accountFile("dave", 40));
        if (std::string(way.what) == "a link retargeted")
            ASSERT_TRUE(relink("old", root.path("game")));
        else
            ASSERT_TRUE(QDir(root.path()).rename("old", "game"));
        const QString game = root.path("game"), out = root.path("top.tsv");
        BackgroundRun rank(program.toUtf8(), {"--watch", "--output", out.toUtf8(), game.toUtf8()});
        ASSERT_TRUE(showsReferenceOf(out, game)) << way.what << ": the first ranking";

        ASSERT_TRUE(way.repoint(root.path())) << way.what;
        ASSERT_TRUE(showsReferenceOf(out, game)) << way.what << ": the new folder's ranking";
        EXPECT_TRUE(contentsOf(out).startsWith("dave\t40")) << way.what;
        // Writes in the folder left behind are no changes of the one followed, even where they
        // share a name with its files.
        const QString left =
            QDir(root.path("old/accounts")).exists() ? root.path("old/accounts") : QString();
        if (!left.isEmpty()) {
            root.write("old/accounts/a.ini", accountFile("alice", 99));
            QFile::remove(root.path("old/accounts/b.ini"));
        }
        QTest::qWait(2 * 2000 + 500); // past two looks at the path
        EXPECT_EQ(contentsOf(out), referenceOf(game)) << way.what << ": nothing of the old folder";
        root.write("game/accounts/e.ini", accountFile("erin", 50));
        ASSERT_TRUE(showsReferenceOf(out, game)) << way.what << ": a change in the new folder";
        EXPECT_EQ(rank.stop(), 0) << way.what;
        // Removed and made again, the folder is truly gone for a moment: read then, it is said
        // once (and the output kept); nothing else is.
        const QByteArray gone = "orvantis-rank: " + game.toUtf8() + "/accounts no longer exists\n";
        if (rank.errors() != gone || std::string(way.what) != "removed and made again") {
            EXPECT_EQ(rank.errors().toStdString(), "") << way.what;
        }
    }
}

TEST_F(RankEndToEnd, ADiskMountedOnTheAccountsFolderAfterTheStartIsRead) {
    TempFolder root;
    root.mkdir("game/accounts"); // the mount point, empty until the disk is there
    root.write("disk/a.ini", accountFile("alice", 10));
    root.write("disk/b.ini", accountFile("bob", 20));
    const QString game = root.path("game"), out = root.path("top.tsv");
    BackgroundRun rank(program.toUtf8(), {"--watch", "--output", out.toUtf8(), game.toUtf8()});
    ASSERT_TRUE(QTest::qWaitFor([&] { return rank.errors().contains("no account files"); }, 10000));
    const QByteArray accounts = root.path("game/accounts").toUtf8();
    if (::geteuid() != 0 || ::mount(root.path("disk").toUtf8().constData(), accounts.constData(),
                                    nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "no bind mount here (it needs root)";
    const bool shown = showsReferenceOf(out, game);
    root.write("disk/c.ini", accountFile("carol", 30)); // a change on the disk now followed
    const bool followed = showsReferenceOf(out, game);
    EXPECT_EQ(::umount(accounts.constData()), 0) << "nothing holds the disk it follows";
    EXPECT_TRUE(shown) << "the mounted disk's ranking";
    EXPECT_TRUE(followed) << "a change on the mounted disk";
    // Unmounted again: an empty folder is more often a disk gone than a server emptied, and the
    // ranking of the disk is kept.
    const QByteArray kept = contentsOf(out);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return rank.errors().count("no account files") == 2; }, 10000))
        << rank.errors().data();
    EXPECT_EQ(contentsOf(out), kept);
    EXPECT_EQ(rank.stop(), 0);
}

TEST_F(RankEndToEnd, AccountFilesWrittenThroughAnotherNameShowWithinASecond) {
    folder.write("shared/linked.ini", accountFile("linked", 10));
    folder.write("shared/hard.ini", accountFile("hard", 20));
    folder.write("accounts/plain.ini", accountFile("plain", 30));
    ASSERT_EQ(::symlink("../shared/linked.ini", folder.path("accounts/linked.ini").toUtf8()), 0);
    ASSERT_EQ(
        ::link(folder.path("shared/hard.ini").toUtf8(), folder.path("accounts/hard.ini").toUtf8()),
        0);
    const QString out = folder.path("top.tsv");
    BackgroundRun rank(program.toUtf8(), {"--watch", "--output", out.toUtf8()});
    ASSERT_TRUE(showsReferenceOf(out, folder.path()));
    const auto rewrite = [&](const QString &name, const QByteArray &bytes) {
        QFile file(folder.path(name)); // in place, as a server saves
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    };
    rewrite("shared/linked.ini", accountFile("linked", 100));
    EXPECT_TRUE(showsReferenceOf(out, folder.path(), 5000)) << "through the link's target";
    rewrite("shared/hard.ini", accountFile("hard", 200));
    EXPECT_TRUE(showsReferenceOf(out, folder.path(), 5000)) << "through the other hard link";
    // The link's target saved by renaming a new file over it: the new file is watched in turn.
    folder.write("shared/linked.tmp", accountFile("linked", 300));
    ASSERT_TRUE(
        QFile::rename(folder.path("shared/linked.tmp"), folder.path("shared/linked.ini")) ||
        (QFile::remove(folder.path("shared/linked.ini")) &&
         QFile::rename(folder.path("shared/linked.tmp"), folder.path("shared/linked.ini"))));
    EXPECT_TRUE(showsReferenceOf(out, folder.path(), 5000)) << "the target replaced";
    rewrite("shared/linked.ini", accountFile("linked", 400));
    EXPECT_TRUE(showsReferenceOf(out, folder.path(), 5000)) << "the new target written";
    EXPECT_TRUE(contentsOf(out).startsWith("linked\t400"));
    EXPECT_EQ(rank.stop(), 0);
}

TEST_F(RankEndToEnd, AnOutputThatCannotBeWrittenIsWrittenAgainOnceItCanBe) {
    folder.write("accounts/a.ini", accountFile("alice", 10));
    // Its folder missing at the start, then made.
    const QString out = folder.path("site/top.tsv");
    BackgroundRun rank(program.toUtf8(), {"--watch", "--output", out.toUtf8()});
    ASSERT_TRUE(QTest::qWaitFor([&] { return rank.errors().contains("cannot write"); }, 10000));
    folder.mkdir("site");
    EXPECT_TRUE(showsReferenceOf(out, folder.path(), 15000)) << "no account changed meanwhile";
    EXPECT_EQ(rank.stop(), 0);
    const QByteArray errors = rank.errors();
    EXPECT_EQ(errors.count("orvantis-rank: cannot write " + out.toUtf8() + ": "), 1)
        << errors.data();
    EXPECT_EQ(errors.count("orvantis-rank: " + out.toUtf8() + " written again\n"), 1)
        << errors.data();

    // A full disk, freed.
    const SmallTmpfs disk(QStringLiteral("64k"));
    if (!disk.mounted)
        GTEST_SKIP() << "no tmpfs to fill here (it needs root)";
    disk.fill(0);
    const QString full = disk.dir.path("top.tsv");
    BackgroundRun onFull(program.toUtf8(), {"--watch", "--output", full.toUtf8()});
    ASSERT_TRUE(QTest::qWaitFor([&] { return onFull.errors().contains("No space left"); }, 10000));
    ASSERT_TRUE(QFile::remove(disk.dir.path("filler")));
    EXPECT_TRUE(showsReferenceOf(full, folder.path(), 15000)) << "the disk freed";
    EXPECT_EQ(onFull.stop(), 0);
    EXPECT_TRUE(onFull.errors().contains(" written again\n"));
}

TEST_F(RankEndToEnd, TheOutputKeepsItsOwnerGroupAndModeOrSaysWhyNot) {
    if (::geteuid() != 0 || unprivilegedUser().isEmpty())
        GTEST_SKIP() << "giving files to another owner needs root";
    folder.write("accounts/a.ini", accountFile("alice", 10));
    const QString site = folder.mkdir("site"), out = site + "/top.tsv";
    folder.write("site/top.tsv", "old\n");
    ASSERT_EQ(::chown(out.toUtf8(), 65534, 65534), 0); // the web server's
    ASSERT_EQ(::chmod(out.toUtf8(), 0640), 0);
    {
        BackgroundRun rank(program.toUtf8(), {"--watch", "--output", out.toUtf8()});
        ASSERT_TRUE(showsReferenceOf(out, folder.path()));
        folder.write("accounts/b.ini", accountFile("bob", 20));
        ASSERT_TRUE(showsReferenceOf(out, folder.path()));
        EXPECT_EQ(rank.stop(), 0);
        EXPECT_EQ(rank.errors(), "");
    }
    struct stat info {};
    ASSERT_EQ(::stat(out.toUtf8(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_gid, 65534u);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    // Run as a user of the file's group, who may write it, and replace it in a folder open to
    // all, but not give it to its owner: it says so once, and writes on.
    ASSERT_EQ(::chown(out.toUtf8(), 0, 65534), 0);
    ASSERT_EQ(::chmod(out.toUtf8(), 0664), 0);
    ASSERT_EQ(::chmod(site.toUtf8(), 0777), 0);
    ASSERT_EQ(::chmod(folder.path().toUtf8(), 0755), 0);
    ProgramOptions asNobody;
    asNobody.user = "65534";
    BackgroundRun rank(program.toUtf8(), {"--watch", "--output", out.toUtf8()}, asNobody);
    ASSERT_TRUE(showsReferenceOf(out, folder.path())) << rank.errors().data();
    folder.write("accounts/c.ini", accountFile("carol", 30));
    ASSERT_TRUE(showsReferenceOf(out, folder.path())) << contentsOf(out).data() << "\n"
                                                      << referenceOf(folder.path()).data();
    EXPECT_EQ(rank.stop(), 0);
    EXPECT_EQ(rank.errors(), "orvantis-rank: the owner 0:65534 of " + out.toUtf8() +
                                 " could not be kept: Operation not permitted\n");
}
