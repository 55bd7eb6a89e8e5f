// orvantis-rank: the ranking of the window, printed for scripts and machines without a display.
#include "console/complaint.h"
#include "console/progressline.h"
#include "console/rankcommandline.h"
#include "console/rankpublisher.h"
#include "console/standardstreams.h"
#include "console/stopsignals.h"
#include "platform/exitstatus.h"
#include "platform/failure.h"
#include "scan/live/folderfollower.h"
#include "scan/reading/accountsfolder.h"

#include <QCoreApplication>
#include <QSet>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

namespace {

using namespace orvantis;

// Reads the folder through the follower and publishes its ranking; with --watch, publishes it
// again after every change, until a stop signal ends the program.
int rankFolder(const RankRequest &request) {
    std::unique_ptr<StopSignals> stopSignals;
    if (request.watch)
        stopSignals = std::make_unique<StopSignals>();
    FolderFollower follower(request.programFolder);
    RankPublisher publisher(request);
    // Says once what following cannot watch; whether it watches everything.
    QSet<QString> said;
    const auto saidWhatIsMissed = [&] {
        const Following &following = follower.following();
        std::vector<ScanFailure> missed = following.gaps;
        if (following.problem)
            missed.insert(missed.begin(), *following.problem);
        for (const ScanFailure &failure : missed)
            if (!said.contains(failure.text)) {
                said.insert(failure.text);
                complainAsRank(failure.text);
            }
        return missed.empty();
    };
    ScanProgressLine progressLine(stderr);
    QTimer progress;
    QObject::connect(&progress, &QTimer::timeout, [&] {
        if (follower.isReading())
            progressLine.show(follower.filesRead(), follower.filesFound());
    });
    progress.start(100);
    bool started = false;
    QObject::connect(&follower, &FolderFollower::rankingReplaced, [&] {
        progressLine.erase();
        // What the first read finds cannot be followed (files that are links, or have other
        // names) ends it at its start, as a folder that cannot be watched does.
        if (request.watch && !std::exchange(started, true) && !saidWhatIsMissed())
            return QCoreApplication::exit(kExitUnhandledError);
        const int status = publisher.publish(follower.sharedRanking());
        if (!request.watch)
            QCoreApplication::exit(status);
    });
    QObject::connect(&follower, &FolderFollower::changesApplied,
                     [&] { publisher.publish(follower.sharedRanking()); });
    QObject::connect(&follower, &FolderFollower::failed, [&](const ScanFailure &failure) {
        progressLine.erase();
        complainAsRank(failure.text);
        QCoreApplication::exit(kExitUnhandledError);
    });
    if (request.watch) {
        follower.setFollowing(true); // watched before the first read reads the folder
        if (!saidWhatIsMissed())
            return kExitUnhandledError; // no event loop yet to end
        // Later, a watch lost ends it, such as one the folder's replacement could not be given;
        // what is missed in part is said once.
        QObject::connect(&follower, &FolderFollower::followingChanged, [&] {
            if (!saidWhatIsMissed() && follower.following().problem)
                QCoreApplication::exit(kExitUnhandledError);
        });
    }
    follower.readWhole();
    const int status = QCoreApplication::exec();
    // A read held by a read that does not return is not waited for.
    if (!follower.stopReading())
        std::_Exit(status);
    return status;
}

int rank(const RankRequest &request) {
    const AccountsFolderSearch search = findAccountsFolder(request.programFolder);
    if (search.failure) {
        complainAsRank(search.failure->text);
        return kExitUnhandledError;
    }
    if (!search.found) {
        std::fputs("Accounts folder not found!\n", stderr);
        complainAsRank(whereNoAccountsFolderIs(request.programFolder));
        return kExitNoAccountsFolder;
    }
    return rankFolder(request);
}

} // namespace

int main(int argc, char *argv[]) {
    // Whatever ends the program early, short of memory or threads too, ends it with a line that
    // says why and a status of its own, never an abort.
    try {
        prepareStandardStreams();
        QCoreApplication app(argc, argv);
        RankRequest request;
        if (const auto status = readRankCommandLine(
                QCoreApplication::arguments(), QCoreApplication::applicationDirPath(), request))
            return *status;
        return rank(request);
    } catch (const std::exception &error) {
        complainAsRank(describeError(error));
        return kExitUnhandledError;
    }
}
