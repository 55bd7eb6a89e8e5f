// orvantis-serve: the ranking as a live leaderboard on the web, for the game's players.
#include "console/complaint.h"
#include "console/standardstreams.h"
#include "console/stopsignals.h"
#include "platform/exitstatus.h"
#include "platform/failure.h"
#include "scan/live/folderfollower.h"
#include "scan/reading/accountsfolder.h"
#include "serve/listensocket.h"
#include "serve/liveserver.h"
#include "serve/serveoptions.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

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
    // Listening from the start, so that an address that cannot be had is said at once; the
    // connections that come wait until the first ranking is read.
    const ListenSocket socket = listenOn(request.host, request.port);
    if (socket.fd < 0) {
        say(socket.error);
        return kExitUnavailable;
    }
    say(QStringLiteral("listening on http://%1/ for the accounts of %2")
            .arg(hostAndPort(request.host, socket.port), request.programFolder));
    StopSignals stopSignals;
    FolderFollower follower(request.programFolder);
    LiveServer server(follower, socket.fd, socket.ipv6, request.limits,
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
