#include "platform/writeall.h"

#include "platform/failure.h"

#include <QFile>
#include <QSaveFile>

#ifdef _WIN32
#include <io.h>
#else
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>

namespace orvantis {

namespace {

// Waits until a non-blocking `fd` takes more: 0, or an errno value.
int waitUntilWritable(int fd) {
#ifdef _WIN32
    (void)fd;
    return EAGAIN; // Windows' descriptors always block
#else
    pollfd ready{fd, POLLOUT, 0};
    return ::poll(&ready, 1, -1) < 0 && errno != EINTR ? errno : 0;
#endif
}

// Puts what was written to `fd` on the disk: 0, or an errno value.
int syncToDisk(int fd) {
#ifdef _WIN32
    return ::_commit(fd) == 0 ? 0 : errno;
#else
    return ::fsync(fd) == 0 ? 0 : errno;
#endif
}

// Gives the new file at `fd` the owner and group of the file at `path`, when there is one and
// they differ: why that could not be done, or the empty text.
QString keepOwner(int fd, const QString &path) {
#ifdef _WIN32
    (void)fd;
    (void)path;
    return QString(); // Windows keeps owners by other means
#else
    struct stat old {};
    struct stat made {};
    if (::stat(QFile::encodeName(path).constData(), &old) != 0 || ::fstat(fd, &made) != 0 ||
        (old.st_uid == made.st_uid && old.st_gid == made.st_gid))
        return QString();
    if (::fchown(fd, old.st_uid, old.st_gid) == 0) {
        // A change of owner may take set-user and set-group bits away: the old mode again.
        ::fchmod(fd, old.st_mode & 07777);
        return QString();
    }
    return QStringLiteral("the owner %1:%2 of %3 could not be kept: %4")
        .arg(QString::number(old.st_uid), QString::number(old.st_gid), path,
             systemErrorText(errno));
#endif
}

} // namespace

int writeAll(int fd, const char *data, size_t size) {
    while (size > 0) {
#ifdef _WIN32
        // The C runtime's write takes at most an unsigned int at a time.
        const int written =
            ::_write(fd, data, static_cast<unsigned>(std::min<size_t>(size, 1 << 30)));
#else
        const ssize_t written = ::write(fd, data, size);
#endif
        if (written >= 0) {
            data += written;
            size -= static_cast<size_t>(written);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return errno;
        if (const int error = waitUntilWritable(fd))
            return error;
    }
    return 0;
}

FileReplacement replaceFile(const QString &path, const QByteArray &bytes) {
    // Not through QSaveFile's buffer: a small file would wait there for commit(), where a failed
    // write does not keep it from replacing the old file with a cut one. QSaveFile gives the new
    // file the old one's mode.
    QSaveFile file(path);
    FileReplacement replacement;
    QString &failure = replacement.failure;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        failure = file.errorString();
    } else if (const int error =
                   writeAll(file.handle(), bytes.constData(), static_cast<size_t>(bytes.size()))) {
        failure = systemErrorText(error);
    } else {
        replacement.ownerNotKept = keepOwner(file.handle(), path);
        if (const int syncError = syncToDisk(file.handle()))
            failure = systemErrorText(syncError);
        else if (!file.commit())
            failure = file.errorString();
    }
    if (!failure.isEmpty()) {
        file.cancelWriting();
        replacement.ownerNotKept.clear();
    }
    return replacement;
}

} // namespace orvantis
