// orvantis-serve: the ranking as a live leaderboard on the web, for the game's players.
#include "serve/serveoptions.h"
#include "serve/serverun.h"
#include "start/accountscheck.h"
#include "start/programend.h"
#include "start/standardstreams.h"

#include <QCoreApplication>

using namespace orvantis;

int main(int argc, char *argv[]) {
    return runGuarded(kServeProgram, [&] {
        prepareStandardStreams();
        QCoreApplication app(argc, argv);
        ServeRequest request;
        if (const auto status = readServeCommandLine(
                QCoreApplication::arguments(), QCoreApplication::applicationDirPath(), request))
            return *status;
        if (const auto status = checkAccountsFolder(kServeProgram, request.programFolder))
            return *status;
        return serveFolder(request);
    });
}
