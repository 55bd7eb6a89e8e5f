#include "scan/live/folderfollower.h"

#include "scan/accounts/accountnames.h"
#include "scan/system/pathignoringcase.h"

#include <algorithm>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace orvantis {

// Hands work done on other threads to the follower's thread, as long as the follower is there:
// it lets go of the relay as it goes, and calls posted after that are dropped. The calls wait
// here, under a lock both threads take, and a bare queued call to runPosted() fetches them:
// nothing a thread made crosses to the other outside that lock.
struct FolderFollower::Relay {
    std::mutex lock;
    FolderFollower *target = nullptr;
    std::vector<std::function<void(FolderFollower &)>> calls;

    void post(std::function<void(FolderFollower &)> call) {
        const std::lock_guard<std::mutex> guard(lock);
        if (!target)
            return;
        calls.push_back(std::move(call));
        if (calls.size() == 1)
            QMetaObject::invokeMethod(target, "runPosted", Qt::QueuedConnection);
    }
    std::vector<std::function<void(FolderFollower &)>> take() {
        const std::lock_guard<std::mutex> guard(lock);
        return std::exchange(calls, {});
    }
    void letGo() {
        const std::lock_guard<std::mutex> guard(lock);
        target = nullptr;
        calls.clear();
    }
};

void FolderFollower::runPosted() {
    for (auto &call : relay_->take())
        guarded([&] { call(*this); });
}

FolderFollower::FolderFollower(QString programFolder, ScanSettings settings, WatchMaker makeWatch,
                               QObject *parent)
    : QObject(parent), programFolder_(std::move(programFolder)), settings_(std::move(settings)),
      makeWatch_(std::move(makeWatch)), relay_(std::make_shared<Relay>()),
      ranking_(std::make_shared<LiveRanking>()) {
    relay_->target = this;
    if (!makeWatch_)
        makeWatch_ = makeSystemFolderWatch;
    gather_.setSingleShot(true);
    gather_.setInterval(kGatherMs);
    connect(&gather_, &QTimer::timeout, this, [this] { guarded([this] { readGathered(); }); });
}

FolderFollower::~FolderFollower() {
    relay_->letGo();
    if (watch_)
        watch_->stop();
    stopReading();
}

size_t FolderFollower::filesFound() const {
    return scan_ ? scan_->filesFound() : 0;
}

size_t FolderFollower::filesRead() const {
    return scan_ ? scan_->filesRead() : 0;
}

void FolderFollower::stopOn(ScanFailure failure) noexcept {
    following_.on = false;
    if (watch_)
        watch_->stop();
    emit failed(failure);
}

void FolderFollower::readWhole() {
    startScan(true);
}

bool FolderFollower::stopReading() {
    if (!scan_)
        return true;
    const bool ended = scan_->stop();
    scan_.reset();
    return ended;
}

void FolderFollower::startScan(bool asked) {
    if (scan_)
        return;
    ++generation_;
    // The read takes every file after now: what changed before is in it.
    pending_.clear();
    pendingNames_.clear();
    gather_.stop();
    scanAsked_ = asked;
    scan_ = std::make_unique<BackgroundScan>(programFolder_, settings_, [relay = relay_] {
        relay->post([](FolderFollower &follower) { follower.scanFinished(); });
    });
    emit readStarted();
}

void FolderFollower::scanFinished() {
    if (!scan_ || !scan_->finished())
        return; // stopped meanwhile, or another one's
    ScanResult result = scan_->take();
    scan_.reset();
    if (result.report.failure) {
        emit failed(*result.report.failure);
    } else {
        const auto &listing = result.report.listing;
        folder_ = listing ? listing->folder() : QString();
        ranking_ = std::make_shared<LiveRanking>(std::move(result));
        emit rankingReplaced(scanAsked_);
    }
    if (std::exchange(scanAgain_, false) && following_.on)
        startScan(false);
    else
        gatherSoon();
}

void FolderFollower::setFollowing(bool on) {
    if (on == following_.on)
        return;
    following_.on = on;
    if (!on) {
        if (watch_)
            watch_->stop();
        following_.problem.reset();
        pending_.clear();
        pendingNames_.clear();
        gather_.stop();
        emit followingChanged();
        return;
    }
    following_.since = QDateTime::currentDateTime();
    following_.lastChange = QDateTime();
    watchFolder();
    if (scan_)
        scanAgain_ = true; // this one may have read some files before the watch began
    else if (generation_ > 0)
        startScan(false); // else the first read is yet to come, and reads what is watched
}

// Watches the folder the accounts entry names now, before it is read, so that no change made
// while it is read goes unseen.
void FolderFollower::watchFolder() {
    if (!watch_)
        watch_ = makeWatch_(this);
    const QString path = resolvePathIgnoringCase(accountsFolderOf(programFolder_));
    following_.problem = watch_->watch(path, [this](std::vector<FolderEvent> events) {
        guarded([&] { take(std::move(events)); });
    });
    emit followingChanged();
}

void FolderFollower::take(std::vector<FolderEvent> events) {
    if (!following_.on)
        return;
    bool lost = false, replaced = false;
    for (FolderEvent &event : events) {
        switch (event.kind) {
        case FolderEvent::EntryChanged: // whether it is an account file's, the reading says
            if (!pendingNames_.contains(event.name)) {
                pendingNames_.insert(event.name);
                pending_.push_back(std::move(event.name));
            }
            break;
        case FolderEvent::EventsLost:
            lost = true;
            break;
        case FolderEvent::FolderReplaced:
            replaced = true;
            break;
        }
    }
    if (replaced && !rewatching_) {
        // Watched anew once this delivery is over: the watch may not be replaced from within.
        rewatching_ = true;
        QTimer::singleShot(0, this, [this] {
            rewatching_ = false;
            if (following_.on)
                guarded([this] {
                    watchFolder();
                    readWholeForChanges();
                });
        });
        return;
    }
    if (lost) {
        readWholeForChanges(); // a change is never lost: the whole folder is read again
        return;
    }
    gatherSoon();
}

void FolderFollower::readWholeForChanges() {
    if (scan_)
        scanAgain_ = true;
    else
        startScan(false);
}

// Started by the first name and never put off by later ones.
void FolderFollower::gatherSoon() {
    if (following_.on && !pending_.empty() && !scan_ && !reading_ && !gather_.isActive())
        gather_.start();
}

void FolderFollower::readGathered() {
    if (!following_.on || scan_ || reading_ || pending_.empty())
        return;
    std::vector<QByteArray> names = std::move(pending_);
    pending_.clear();
    pendingNames_.clear();
    reading_ = true;
    const unsigned generation = generation_;
    try {
        // Owns all it uses: left to end on its own if the follower goes first.
        std::thread([relay = relay_, folder = folder_, names, generation]() mutable {
            ChangesRead read = readChangedFiles(folder, names);
            relay->post([read = std::move(read), generation,
                         names = std::move(names)](FolderFollower &follower) mutable {
                follower.changesFinished(std::move(read), generation, std::move(names));
            });
        }).detach();
    } catch (const std::system_error &) { // no thread to be had: read them all again
        reading_ = false;
        readWholeForChanges();
    }
}

void FolderFollower::changesFinished(ChangesRead read, unsigned generation,
                                     std::vector<QByteArray> names) {
    reading_ = false;
    if (!following_.on)
        return;
    if (generation != generation_) {
        // A whole read began meanwhile: these files are read again after it.
        for (QByteArray &name : names)
            if (!pendingNames_.contains(name)) {
                pendingNames_.insert(name);
                pending_.push_back(std::move(name));
            }
        gatherSoon();
        return;
    }
    if (read.failure) {
        readWholeForChanges(); // the folder gone, or the program short: a whole read says which
        return;
    }
    apply(std::move(read.files));
    gatherSoon();
}

void FolderFollower::apply(std::vector<ChangedFile> files) {
    files.erase(
        std::remove_if(files.begin(), files.end(),
                       [this](const ChangedFile &file) { return !ranking_->concerns(file); }),
        files.end());
    if (files.empty())
        return; // such as a backup or a temporary file beside the account files
    following_.lastChange = QDateTime::currentDateTime();
    emit changesApplying(files);
    RankingSteps unseen;
    const bool reset = ranking_->apply(std::move(files), steps_ ? *steps_ : unseen);
    emit changesApplied(reset);
}

} // namespace orvantis
