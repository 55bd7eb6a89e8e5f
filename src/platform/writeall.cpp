#include "platform/writeall.h"

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

} // namespace orvantis
