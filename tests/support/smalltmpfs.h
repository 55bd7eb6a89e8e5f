#pragma once

#include "tempfolder.h"

#include <QByteArray>
#include <QString>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

// A file system mounted for the length of a test: tmpfs of a given size (root only).
class SmallTmpfs {
public:
    explicit SmallTmpfs(const QString &size) {
        const QByteArray command = "mount -t tmpfs -o size=" + size.toUtf8() + " tmpfs '" +
                                   dir.path().toUtf8() + "' 2>/dev/null";
        mounted = ::geteuid() == 0 && ::system(command.constData()) == 0;
    }
    ~SmallTmpfs() {
        if (mounted) {
            EXPECT_EQ(::system(("umount '" + dir.path().toUtf8() + "'").constData()), 0);
        }
    }
    // Writes a file until the file system is full, then frees `leave` bytes of it.
    void fill(off_t leave) const {
        const QByteArray path = dir.path("filler").toUtf8();
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        const QByteArray chunk(4096, 'f');
        off_t written = 0;
        for (ssize_t n; (n = ::write(fd, chunk.constData(), size_t(chunk.size()))) > 0;)
            written += n;
        ASSERT_EQ(errno, ENOSPC);
        ASSERT_EQ(::ftruncate(fd, std::max<off_t>(0, written - leave)), 0);
        ::close(fd);
    }
    TempFolder dir;
    bool mounted = false;
};
