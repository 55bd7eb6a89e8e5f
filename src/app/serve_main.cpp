// orvantis-serve: the ranking as a live leaderboard on the web, for the game's players.
#include "console/complaint.h"
#include "console/standardstreams.h"
#include "console/stopsignals.h"
#include "platform/exitstatus.h"
#include "platform/failure.h"
#include "scan/live/folderfollower.h"
#include "scan/reading/accountsfolder.h"
#include "serve/descriptorroom.h"
#include "serve/listensocket.h"
#include "serve/liveserver.h"
#include "serve/serveoptions.h"
#include "serve/tlsfiles.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <unistd.h>

namespace {

using namespace orvantis;

void say(const QString &line) {
    complain("orvantis-serve", line);
}

int serve(const ServeRequest &request) {
    const AccountsFolderSearch search = findAccountsFolder(request.programFolder);
    if (search.failure) {
        say(search.failure->text);
        return kExitUnhandledError;
    }
    if (!search.found) {
        std::fputs("Accounts folder not found!\n", stderr);
        say(whereNoAccountsFolderIs(request.programFolder));
        return kExitNoAccountsFolder;
    }
    TlsFiles tls;
    if (!request.tlsCertificate.isEmpty()) {
        tls = readTlsFiles(request.tlsCertificate, request.tlsKey);
        if (!tls.error.isEmpty()) {
            say(tls.error);
            return kExitConfiguration;
        }
    }
    // Listening from the start, so that an address that cannot be had is said at once; the
    // connections that come wait until the first ranking is read.
    std::vector<ListenSocket> sockets;
    for (const ListenAddress &address : request.listen) {
        ListenSocket socket = listenOn(address.host, address.port, request.listen.size() > 1);
        if (socket.fd < 0) {
            say(socket.error);
            for (const ListenSocket &made : sockets)
                ::close(made.fd);
            return kExitUnavailable;
        }
        say(QStringLiteral("listening on %1://%2/ for the accounts of %3")
                .arg(tls.any() ? QStringLiteral("https") : QStringLiteral("http"), socket.name,
                     request.programFolder));
        sockets.push_back(std::move(socket));
    }
    ServeLimits limits = request.limits;
    const DescriptorRoom room = roomForConnections(limits.connections);
    if (room.lowered)
        say(QStringLiteral("at most %1 connections at once, not %2: the descriptor limit is %3 "
                           "(ulimit -n)")
                .arg(room.connections)
                .arg(limits.connections)
                .arg(room.limit));
    limits.connections = room.connections;
    StopSignals stopSignals;
    FolderFollower follower(request.programFolder);
    LiveServer server(follower, std::move(sockets), limits, std::move(tls),
                      [](int status) { QCoreApplication::exit(status); });
    follower.setFollowing(true); // watched before the first read reads the folder
    follower.readWhole();
    const int status = QCoreApplication::exec();
    // A read held by a read that does not return is not waited for.
    if (!follower.stopReading())
        std::_Exit(status);
    return status;
}

} // namespace

int main(int argc, char *argv[]) {
    // Whatever ends the program early, short of memory or threads too, ends it with a line that
    // says why and a status of its own, never an abort.
    try {
        prepareStandardStreams();
        QCoreApplication app(argc, argv);
        ServeRequest request;
        if (const auto status = readServeCommandLine(
                QCoreApplication::arguments(), QCoreApplication::applicationDirPath(), request))
            return *status;
        return serve(request);
    } catch (const std::exception &error) {
        say(describeError(error));
        return kExitUnhandledError;
    }
}
