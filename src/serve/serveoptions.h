#pragma once

#include "serve/clientaddress.h"
#include "serve/searchgate.h"

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace orvantis {

// The limits the server holds every client to, each set on purpose (see kServeUsage).
struct ServeLimits {
    // Connections at once, over all clients: each is a descriptor and up to connectionMemory.
    unsigned connections = 4096;
    // Connections at once from one client address: a browser opens six to a host.
    unsigned perAddress = 64;
    // A connection that sends or takes nothing this long is closed.
    unsigned idleSeconds = 30;
    // The memory a connection may take for its request (the request line and headers).
    size_t connectionMemory = 32 * 1024;
    // The kernel's send buffer of one connection: what a client that does not read holds of
    // the server's memory and of its copying, where the kernel would grow it to megabytes.
    size_t sendBuffer = 256 * 1024;
    // The searches of one client address.
    SearchLimits searches;
    // The proxies in front, whose connections are not held to perAddress: the clients they
    // forward are, by the address the proxy says, as they are to the searches' limits.
    TrustedProxies trustedProxies;
};

// An address to listen on, numeric, and its port (0 for any free one).
struct ListenAddress {
    QString host;
    uint16_t port = 0;
};

// What orvantis-serve's command line asks for.
struct ServeRequest {
    QString programFolder; // the folder that holds "accounts"
    std::vector<ListenAddress> listen{{QStringLiteral("127.0.0.1"), 8080}};
    ServeLimits limits;
    // HTTPS with this certificate (chain) and key, in PEM files; plain HTTP without them.
    QString tlsCertificate;
    QString tlsKey;
    // The history of every account's changes, kept in this SQLite file; none when empty.
    QString historyFile;
};

// Its name in its messages and --version, and its --help.
extern const char kServeProgram[];
extern const char kServeUsage[];

// Reads the command line (the program's name first) into `request`; FOLDER defaults to
// `programDirectory`. After --help or --version, which it prints, gives kExitSuccess; on bad
// usage, which it says on standard error, kExitUsage; else nothing, to go on.
std::optional<int> readServeCommandLine(const QStringList &arguments,
                                        const QString &programDirectory, ServeRequest &request);

} // namespace orvantis
