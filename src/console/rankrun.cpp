#include "console/rankrun.h"

#include "console/progressline.h"
#include "console/rankpublisher.h"
#include "platform/exitstatus.h"
#include "scan/live/folderfollower.h"
#include "start/programend.h"
#include "start/stopsignals.h"

#include <QCoreApplication>
#include <QSet>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <utility>

namespace orvantis {

namespace {

// One run of orvantis-rank: the follower, what it publishes, and what it has said.
class RankRun {
public:
    explicit RankRun(const RankRequest &request)
        : request_(request), follower_(request.programFolder), publisher_(request),
          progressLine_(stderr) {}

    int run();

private:
    bool saidWhatIsMissed();
    void showProgress();
    void rankingReplaced();
    void failed(const ScanFailure &failure);
    void followingChanged();

    const RankRequest &request_;
    FolderFollower follower_;
    RankPublisher publisher_;
    ScanProgressLine progressLine_;
    QTimer progress_;
    QSet<QString> said_;
    bool started_ = false;
};

int RankRun::run() {
    std::unique_ptr<StopSignals> stopSignals;
    if (request_.watch)
        stopSignals = std::make_unique<StopSignals>();
    QObject::connect(&progress_, &QTimer::timeout, [this] { showProgress(); });
    progress_.start(100);
    QObject::connect(&follower_, &FolderFollower::rankingReplaced, [this] { rankingReplaced(); });
    QObject::connect(&follower_, &FolderFollower::changesApplied,
                     [this] { publisher_.publish(follower_.sharedRanking()); });
    QObject::connect(&follower_, &FolderFollower::failed,
                     [this](const ScanFailure &failure) { failed(failure); });
    if (request_.watch) {
        follower_.setFollowing(true); // watched before the first read reads the folder
        if (!saidWhatIsMissed())
            return kExitUnhandledError; // no event loop yet to end
        QObject::connect(&follower_, &FolderFollower::followingChanged,
                         [this] { followingChanged(); });
    }
    follower_.readWhole();
    return runEventLoop([this] { return follower_.stopReading(); });
}

// Says once what following cannot watch; whether it watches everything.
bool RankRun::saidWhatIsMissed() {
    const std::vector<ScanFailure> missed = follower_.following().missed();
    for (const ScanFailure &failure : missed)
        if (!said_.contains(failure.text)) {
            said_.insert(failure.text);
            complainAsRank(failure.text);
        }
    return missed.empty();
}

void RankRun::showProgress() {
    if (follower_.isReading())
        progressLine_.show(follower_.filesRead(), follower_.filesFound());
}

void RankRun::rankingReplaced() {
    progressLine_.erase();
    // What the first read finds cannot be followed (files that are links, or have other names)
    // ends it at its start, as a folder that cannot be watched does.
    if (request_.watch && !std::exchange(started_, true) && !saidWhatIsMissed())
        return QCoreApplication::exit(kExitUnhandledError);
    const int status = publisher_.publish(follower_.sharedRanking());
    if (!request_.watch)
        QCoreApplication::exit(status);
}

void RankRun::failed(const ScanFailure &failure) {
    progressLine_.erase();
    complainAsRank(failure.text);
    QCoreApplication::exit(kExitUnhandledError);
}

// A watch lost ends the run, such as one the folder's replacement could not be given; what is
// missed in part is said once.
void RankRun::followingChanged() {
    if (!saidWhatIsMissed() && follower_.following().problem)
        QCoreApplication::exit(kExitUnhandledError);
}

} // namespace

int rankFolder(const RankRequest &request) {
    RankRun run(request);
    return run.run();
}

} // namespace orvantis
