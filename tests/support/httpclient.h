#pragma once

// A plain HTTP/1.1 client for tests, on loopback only: raw bytes over a socket, so that a test
// can send what no browser would (half a request, a request line without a version, headers
// of any size) and see what comes back.

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMap>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

// A connection to 127.0.0.1 (or ::1) on a port; closed when it goes.
class LoopbackConnection {
public:
    enum Family { V4, V6 };
    explicit LoopbackConnection(uint16_t port, Family family = V4, int receiveBuffer = 0)
        : fd_(::socket(family == V4 ? AF_INET : AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        if (fd_ >= 0 && receiveBuffer > 0) // before connecting, so that the window is small
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in v4{};
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sockaddr_in6 v6{};
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        v6.sin6_addr = in6addr_loopback;
        connected_ =
            fd_ >= 0 &&
            (family == V4 ? ::connect(fd_, reinterpret_cast<sockaddr *>(&v4), sizeof v4)
                          : ::connect(fd_, reinterpret_cast<sockaddr *>(&v6), sizeof v6)) == 0;
    }
    ~LoopbackConnection() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    LoopbackConnection(const LoopbackConnection &) = delete;
    LoopbackConnection &operator=(const LoopbackConnection &) = delete;

    bool connected() const { return connected_; }
    bool send(const QByteArray &bytes) {
        return ::send(fd_, bytes.constData(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL) ==
               bytes.size();
    }
    // What comes back within `ms`, until the other side closes or `enough` says it is complete.
    template <typename Enough> QByteArray receive(int ms, Enough &&enough) {
        QByteArray got;
        QElapsedTimer clock;
        clock.start();
        while (!enough(got) && clock.elapsed() < ms) {
            pollfd ready{fd_, POLLIN, 0};
            if (::poll(&ready, 1, static_cast<int>(ms - clock.elapsed())) <= 0)
                break;
            char buffer[65536];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                closed_ = true;
                break;
            }
            got.append(buffer, n);
        }
        return got;
    }
    QByteArray receive(int ms) {
        return receive(ms, [](const QByteArray &) { return false; });
    }
    // Whether the other side closed the connection (seen by receive).
    bool closed() const { return closed_; }
    // Takes at most `bytes` of what has come, without waiting: nothing when nothing has.
    QByteArray take(size_t bytes) {
        QByteArray got(static_cast<qsizetype>(bytes), Qt::Uninitialized);
        const ssize_t n = ::recv(fd_, got.data(), bytes, MSG_DONTWAIT);
        if (n == 0)
            closed_ = true;
        got.truncate(n > 0 ? n : 0);
        return got;
    }

private:
    int fd_;
    bool connected_ = false;
    bool closed_ = false;
};

// One response, its parts taken apart.
struct HttpReply {
    int status = 0;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
    QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
};

// The first response in `bytes`, or status 0 when there is none whole.
inline HttpReply parseReply(const QByteArray &bytes) {
    HttpReply reply;
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    if (!bytes.startsWith("HTTP/1.") || end < 0)
        return reply;
    const QList<QByteArray> lines = bytes.left(end).split('\n');
    reply.status = lines[0].mid(9, 3).toInt();
    for (const QByteArray &line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        reply.headers[line.left(colon).trimmed().toLower()] = line.mid(colon + 1).trimmed();
    }
    reply.body = bytes.mid(end + 4);
    return reply;
}

// A GET (or any method) of `target` on a connection of its own, closed after the answer.
inline HttpReply request(uint16_t port, const QByteArray &target,
                         const QList<QByteArray> &headers = {}, const QByteArray &method = "GET",
                         LoopbackConnection::Family family = LoopbackConnection::V4) {
    LoopbackConnection connection(port, family);
    QByteArray text =
        method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    for (const QByteArray &header : headers)
        text += header + "\r\n";
    connection.send(text + "\r\n");
    return parseReply(connection.receive(10000));
}
