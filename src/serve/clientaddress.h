#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <netinet/in.h>

#include <optional>
#include <string>
#include <vector>

struct sockaddr;

namespace orvantis {

// An address as the server counts and names clients by: IPv4 addresses as IPv4-mapped IPv6
// ones, so that a client is one client over either kind of socket.
struct ClientAddress {
    in6_addr bytes{};
    bool known = false; // false for a socket that is not IP, or a header that names none

    // What the limits count a client by: an IPv4 address, or the /64 network of an IPv6 one
    // (which one host is given whole).
    std::string key() const;
    // As logs name it: 203.0.113.7, 2001:db8::1; "an unknown address" when not known.
    QString text() const;

    static ClientAddress of(const sockaddr *socketAddress);
    // A numeric address as text (203.0.113.7, 2001:db8::1, [2001:db8::1]); unknown when not one.
    static ClientAddress parse(QByteArrayView text);
};

// The proxies whose X-Forwarded-For is believed: addresses or networks (ADDRESS/BITS).
class TrustedProxies {
public:
    // Each of `texts` read; nothing, and the one that is not an address, when one is not.
    static std::optional<TrustedProxies> parse(const QStringList &texts, QString &notAnAddress);

    bool any() const { return !networks_.empty(); }
    bool trusts(const ClientAddress &address) const;

    // The client a request comes from: the connection's peer, or behind a trusted proxy the
    // right-most address of X-Forwarded-For (its headers in the order sent) that is not itself
    // a trusted proxy; each proxy appends the address it was reached from, and only what the
    // trusted ones appended is believed. A list that names no address there, or only trusted
    // ones, names the proxy that reached the server, or the left-most trusted one.
    ClientAddress clientOf(const ClientAddress &peer, const QList<QByteArray> &forwardedFor) const;

private:
    struct Network {
        in6_addr bytes;
        int bits; // of the IPv6 form
    };
    std::vector<Network> networks_;
};

} // namespace orvantis
