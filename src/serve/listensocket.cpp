#include "serve/listensocket.h"

#include "platform/failure.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orvantis {

namespace {

// Connections waiting to be taken when many come at once; the system caps it at its somaxconn.
constexpr int kBacklog = 4096;

} // namespace

QString hostAndPort(const QString &host, uint16_t port) {
    return (host.contains(u':') ? u'[' + host + u']' : host) + u':' + QString::number(port);
}

ListenSocket listenOn(const QString &host, uint16_t port, bool v6Only) {
    ListenSocket made;
    sockaddr_storage address{};
    socklen_t length = 0;
    const QByteArray text = host.toLatin1();
    auto *v4 = reinterpret_cast<sockaddr_in *>(&address);
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(&address);
    if (::inet_pton(AF_INET, text.constData(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        length = sizeof(sockaddr_in);
    } else if (::inet_pton(AF_INET6, text.constData(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        length = sizeof(sockaddr_in6);
        made.ipv6 = true;
    } else {
        made.error = QStringLiteral("%1 is no address").arg(host);
        return made;
    }
    const int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        (made.ipv6 && v6Only && ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0) ||
        ::bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        ::listen(fd, kBacklog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        made.error = QStringLiteral("cannot listen on %1: %2")
                         .arg(hostAndPort(host, port), systemErrorText(errno));
        if (fd >= 0)
            ::close(fd);
        return made;
    }
    made.fd = fd;
    made.port = ntohs(made.ipv6 ? v6->sin6_port : v4->sin_port);
    made.name = hostAndPort(host, made.port);
    return made;
}

} // namespace orvantis
