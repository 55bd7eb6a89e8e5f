#include "serve/serverun.h"

#include "platform/exitstatus.h"
#include "scan/live/folderfollower.h"
#include "serve/descriptorroom.h"
#include "serve/listensocket.h"
#include "serve/liveserver.h"
#include "serve/tlsfiles.h"
#include "start/complaint.h"
#include "start/programend.h"
#include "start/stopsignals.h"

#include <QCoreApplication>

#include <optional>
#include <vector>

#include <unistd.h>

namespace orvantis {

namespace {

void tell(const QString &line) {
    complain(kServeProgram, line);
}

// Listens on every address asked for, from the start, so that one that cannot be had is said at
// once; the connections that come wait until the first ranking is read. None when one fails.
std::optional<std::vector<ListenSocket>> listenOnAll(const ServeRequest &request, bool tls) {
    std::vector<ListenSocket> sockets;
    for (const ListenAddress &address : request.listen) {
        ListenSocket socket = listenOn(address.host, address.port, request.listen.size() > 1);
        if (socket.fd < 0) {
            tell(socket.error);
            for (const ListenSocket &made : sockets)
                ::close(made.fd);
            return std::nullopt;
        }
        tell(QStringLiteral("listening on %1://%2/ for the accounts of %3")
                 .arg(tls ? QStringLiteral("https") : QStringLiteral("http"), socket.name,
                      request.programFolder));
        sockets.push_back(std::move(socket));
    }
    return sockets;
}

// The limits asked for, with as many connections as the descriptor limit leaves room for.
ServeLimits limitsWithRoom(ServeLimits limits) {
    const DescriptorRoom room = roomForConnections(limits.connections);
    if (room.lowered)
        tell(QStringLiteral("at most %1 connections at once, not %2: the descriptor limit is %3 "
                            "(ulimit -n)")
                 .arg(room.connections)
                 .arg(limits.connections)
                 .arg(room.limit));
    limits.connections = room.connections;
    return limits;
}

} // namespace

int serveFolder(const ServeRequest &request) {
    TlsFiles tls;
    if (!request.tlsCertificate.isEmpty()) {
        tls = readTlsFiles(request.tlsCertificate, request.tlsKey);
        if (!tls.error.isEmpty()) {
            tell(tls.error);
            return kExitConfiguration;
        }
    }
    std::optional<std::vector<ListenSocket>> sockets = listenOnAll(request, tls.any());
    if (!sockets)
        return kExitUnavailable;
    const ServeLimits limits = limitsWithRoom(request.limits);
    StopSignals stopSignals;
    FolderFollower follower(request.programFolder);
    LiveServer server(follower, std::move(*sockets), limits, std::move(tls), request.historyFile,
                      [](int status) { QCoreApplication::exit(status); });
    follower.setFollowing(true); // watched before the first read reads the folder
    follower.readWhole();
    return runEventLoop([&] { return follower.stopReading(); });
}

} // namespace orvantis
