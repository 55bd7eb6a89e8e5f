#include "serve/clientaddress.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstring>

namespace orvantis {

namespace {

bool mappedFromIpv4(const in6_addr &bytes) {
    return IN6_IS_ADDR_V4MAPPED(&bytes);
}

in6_addr mapped(const in_addr &v4) {
    in6_addr bytes{};
    bytes.s6_addr[10] = bytes.s6_addr[11] = 0xff;
    std::memcpy(&bytes.s6_addr[12], &v4, sizeof v4);
    return bytes;
}

bool within(const in6_addr &address, const in6_addr &network, int bits) {
    for (int i = 0; i < 16 && bits > 0; ++i, bits -= 8) {
        const unsigned mask = bits >= 8 ? 0xffu : (0xffu << (8 - bits)) & 0xffu;
        if ((address.s6_addr[i] & mask) != (network.s6_addr[i] & mask))
            return false;
    }
    return true;
}

} // namespace

std::string ClientAddress::key() const {
    if (!known)
        return std::string();
    if (mappedFromIpv4(bytes))
        return std::string(reinterpret_cast<const char *>(&bytes.s6_addr[12]), 4);
    return std::string(reinterpret_cast<const char *>(bytes.s6_addr), 8);
}

QString ClientAddress::text() const {
    if (!known)
        return QStringLiteral("an unknown address");
    char text[INET6_ADDRSTRLEN] = {};
    if (mappedFromIpv4(bytes))
        ::inet_ntop(AF_INET, &bytes.s6_addr[12], text, sizeof text);
    else
        ::inet_ntop(AF_INET6, &bytes, text, sizeof text);
    return QString::fromLatin1(text);
}

ClientAddress ClientAddress::of(const sockaddr *socketAddress) {
    ClientAddress address;
    if (socketAddress && socketAddress->sa_family == AF_INET) {
        address.bytes = mapped(reinterpret_cast<const sockaddr_in *>(socketAddress)->sin_addr);
        address.known = true;
    } else if (socketAddress && socketAddress->sa_family == AF_INET6) {
        address.bytes = reinterpret_cast<const sockaddr_in6 *>(socketAddress)->sin6_addr;
        address.known = true;
    }
    return address;
}

ClientAddress ClientAddress::parse(QByteArrayView text) {
    QByteArray bare = text.toByteArray().trimmed();
    if (bare.startsWith('[') && bare.endsWith(']'))
        bare = bare.mid(1, bare.size() - 2);
    ClientAddress address;
    in_addr v4{};
    if (::inet_pton(AF_INET, bare.constData(), &v4) == 1) {
        address.bytes = mapped(v4);
        address.known = true;
    } else if (::inet_pton(AF_INET6, bare.constData(), &address.bytes) == 1) {
        address.known = true;
    }
    return address;
}

std::optional<TrustedProxies> TrustedProxies::parse(const QStringList &texts,
                                                    QString &notAnAddress) {
    TrustedProxies proxies;
    for (const QString &text : texts) {
        const qsizetype slash = text.indexOf(u'/');
        const ClientAddress address = ClientAddress::parse(text.left(slash).toLatin1());
        const int most = mappedFromIpv4(address.bytes) ? 32 : 128;
        bool number = slash < 0;
        const int bits = slash < 0 ? most : text.mid(slash + 1).toInt(&number);
        if (!address.known || !number || bits < 0 || bits > most) {
            notAnAddress = text;
            return std::nullopt;
        }
        proxies.networks_.push_back({address.bytes, bits + 128 - most});
    }
    return proxies;
}

bool TrustedProxies::trusts(const ClientAddress &address) const {
    if (!address.known)
        return false;
    for (const Network &network : networks_)
        if (within(address.bytes, network.bytes, network.bits))
            return true;
    return false;
}

ClientAddress TrustedProxies::clientOf(const ClientAddress &peer,
                                       const QList<QByteArray> &forwardedFor) const {
    if (!trusts(peer))
        return peer;
    ClientAddress client = peer;
    for (auto header = forwardedFor.crbegin(); header != forwardedFor.crend(); ++header) {
        const QList<QByteArray> hops = header->split(',');
        for (auto hop = hops.crbegin(); hop != hops.crend(); ++hop) {
            const ClientAddress address = ClientAddress::parse(*hop);
            if (!address.known)
                return client; // no one trusted vouches for what is left of it
            client = address;
            if (!trusts(address))
                return client;
        }
    }
    return client;
}

} // namespace orvantis
