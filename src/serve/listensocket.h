#pragma once

#include <QString>

#include <cstdint>

namespace orvantis {

// A socket bound to an address and listening, made before the server starts so that an address
// that cannot be had is said at once, with the system's reason.
struct ListenSocket {
    int fd = -1;
    bool ipv6 = false;
    uint16_t port = 0; // the one bound: the one asked for, or a free one for 0
    QString name;      // "127.0.0.1:8080", "[::1]:8080", with the port bound
    QString error;     // why it could not be had; then fd is -1
};
// An IPv6 socket takes IPv6 alone when `v6Only`, else IPv4 too where the system does.
ListenSocket listenOn(const QString &host, uint16_t port, bool v6Only = false);

// "127.0.0.1:8080", "[::1]:8080": an address and port as a URL writes them.
QString hostAndPort(const QString &host, uint16_t port);

} // namespace orvantis
