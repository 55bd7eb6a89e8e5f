// orvantis-rank: the ranking of the window, printed for scripts and machines without a display.
#include "console/rankcommandline.h"
#include "console/rankrun.h"
#include "start/accountscheck.h"
#include "start/programend.h"
#include "start/standardstreams.h"

#include <QCoreApplication>

using namespace orvantis;

int main(int argc, char *argv[]) {
    return runGuarded(kRankProgram, [&] {
        prepareStandardStreams();
        QCoreApplication app(argc, argv);
        RankRequest request;
        if (const auto status = readRankCommandLine(
                QCoreApplication::arguments(), QCoreApplication::applicationDirPath(), request))
            return *status;
        if (const auto status = checkAccountsFolder(kRankProgram, request.programFolder))
            return *status;
        return rankFolder(request);
    });
}
