#include "platform/writeall.h"

#include "platform/failure.h"

#include <QSaveFile>

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace orvantis {

int writeAll(int fd, const char *data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written >= 0) {
            data += written;
            size -= static_cast<size_t>(written);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return errno;
        pollfd ready{fd, POLLOUT, 0};
        if (::poll(&ready, 1, -1) < 0 && errno != EINTR)
            return errno;
    }
    return 0;
}

QString replaceFile(const QString &path, const QByteArray &bytes) {
    // Not through QSaveFile's buffer: a small file would wait there for commit(), where a failed
    // write does not keep it from replacing the old file with a cut one.
    QSaveFile file(path);
    QString failure;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        failure = file.errorString();
    } else if (const int error =
                   writeAll(file.handle(), bytes.constData(), static_cast<size_t>(bytes.size()))) {
        failure = systemErrorText(error);
    } else if (::fsync(file.handle()) != 0) {
        failure = systemErrorText(errno);
    } else if (!file.commit()) {
        failure = file.errorString();
    }
    if (!failure.isEmpty())
        file.cancelWriting();
    return failure;
}

} // namespace orvantis
