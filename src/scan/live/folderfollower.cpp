#include "scan/live/folderfollower.h"

#include "scan/accounts/accountnames.h"
#include "scan/system/pathignoringcase.h"

#include <algorithm>
#include <cerrno>
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
    : QObject(parent), programFolder_(std::move(programFolder)),
      accountsPath_(accountsFolderOf(programFolder_)), settings_(std::move(settings)),
      makeWatch_(std::move(makeWatch)), relay_(std::make_shared<Relay>()),
      ranking_(std::make_shared<LiveRanking>()) {
    relay_->target = this;
    if (!makeWatch_)
        makeWatch_ = [](QObject *owner) { return makeSystemFolderWatch(owner); };
    gather_.setSingleShot(true);
    gather_.setInterval(kGatherMs);
    connect(&gather_, &QTimer::timeout, this, [this] { guarded([this] { readGathered(); }); });
    pathCheck_.setInterval(kPathCheckMs);
    connect(&pathCheck_, &QTimer::timeout, this, [this] { guarded([this] { checkPath(); }); });
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
    pathCheck_.stop();
    mounts_.reset();
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
    ScanSettings settings = settings_;
    settings.findLinkedFiles = following_.on;
    scan_ = std::make_unique<BackgroundScan>(programFolder_, settings, [relay = relay_] {
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
        std::vector<QByteArray> linked;
        for (uint32_t place : result.linkedPlaces) {
            const std::string_view name = result.report.listing->rawName(place);
            linked.emplace_back(name.data(), static_cast<qsizetype>(name.size()));
        }
        ranking_ = std::make_shared<LiveRanking>(std::move(result));
        noteEmptied();
        if (following_.on) { // the files of this read, and no others, are watched themselves
            unwatchLinkedFiles();
            for (const QByteArray &name : linked)
                watchLinkedFile(name, true);
            if (tellGaps())
                emit followingChanged();
        }
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
        pathCheck_.stop();
        mounts_.reset();
        following_.problem.reset();
        following_.gaps.clear();
        aboveGap_.reset();
        linkedFiles_.clear();
        unwatchedLinks_.clear();
        pending_.clear();
        pendingNames_.clear();
        gather_.stop();
        emit followingChanged();
        return;
    }
    following_.since = QDateTime::currentDateTime();
    following_.lastChange = QDateTime();
    mounts_ = std::make_unique<MountWatch>(this, [this] { guarded([this] { checkPath(); }); });
    pathCheck_.start();
    watchFolder();
    if (scan_)
        scanAgain_ = true; // this one may have read some files before the watch began
    else if (generation_ > 0)
        startScan(false); // else the first read is yet to come, and reads what is watched
}

// Watches the folder the accounts entry names now, before it is read, so that no change made
// while it is read goes unseen; and notes what its path leads through, to tell when it leads
// elsewhere.
void FolderFollower::watchFolder() {
    if (!watch_)
        watch_ = makeWatch_(this);
    watchedPath_ = resolvePathIgnoringCase(accountsPath_);
    watchedTrace_ = PathTrace::of(watchedPath_);
    const WatchProblems problems =
        watch_->watch(watchedPath_, [this](std::vector<FolderEvent> events) {
            guarded([&] { take(std::move(events)); });
        });
    // A path that leads nowhere now, not even to the folder above, is no failure: it is looked
    // at every kPathCheckMs, and followed once it leads to a folder again.
    const bool nowhere = problems.folder && (problems.folder->systemError == ENOENT ||
                                             problems.folder->systemError == ENOTDIR);
    following_.problem = nowhere ? std::nullopt : problems.folder;
    aboveGap_ = problems.above;
    linkedFiles_.clear(); // watched anew after the read
    unwatchedLinks_.clear();
    tellGaps();
    emit followingChanged();
}

// The folder followed is another now, or gone: what was seen in the old one is dropped, and the
// new one is watched and read whole.
void FolderFollower::followAnew() {
    ++epoch_;
    pending_.clear();
    pendingNames_.clear();
    gather_.stop();
    watchFolder();
    readWholeForChanges();
}

void FolderFollower::checkPath() {
    if (!following_.on || rewatching_)
        return;
    if (resolvePathIgnoringCase(accountsPath_) != watchedPath_ ||
        PathTrace::of(watchedPath_) != watchedTrace_)
        followAnew();
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
                guarded([this] { followAnew(); });
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
    std::shared_ptr<const FolderListing> listing = ranking_->report().listing;
    if (!listing) // no folder read yet to read them in
        return readWholeForChanges();
    std::vector<QByteArray> names = std::move(pending_);
    pending_.clear();
    pendingNames_.clear();
    reading_ = true;
    const unsigned generation = generation_, epoch = epoch_;
    try {
        // Read in the folder the ranking's read listed, and no other: owns all it uses, and is
        // left to end on its own if the follower goes first.
        std::thread([relay = relay_, listing = std::move(listing), names, generation,
                     epoch]() mutable {
            ChangesRead read = readChangedFiles(*listing, names);
            relay->post([read = std::move(read), generation, epoch,
                         names = std::move(names)](FolderFollower &follower) mutable {
                follower.changesFinished(std::move(read), generation, epoch, std::move(names));
            });
        }).detach();
    } catch (const std::system_error &) { // no thread to be had: read them all again
        reading_ = false;
        readWholeForChanges();
    }
}

void FolderFollower::changesFinished(ChangesRead read, unsigned generation, unsigned epoch,
                                     std::vector<QByteArray> names) {
    reading_ = false;
    if (!following_.on || epoch != epoch_) // seen in a folder no longer followed
        return gatherSoon();
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
        // The folder gone or another now, or the program short: a whole read says which.
        checkPath();
        readWholeForChanges();
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
    for (const ChangedFile &file : files)
        watchLinkedFile(file.rawName, file.linked);
    if (tellGaps())
        emit followingChanged();
    following_.lastChange = QDateTime::currentDateTime();
    emit changesApplying(files);
    RankingSteps unseen;
    const bool reset = ranking_->apply(std::move(files), steps_ ? *steps_ : unseen);
    noteEmptied();
    emit changesApplied(reset);
}

// An account file that is a link, or has other names, is watched itself, anew each time it is
// read, so that the watch follows where its name leads now; one that no longer is, is not.
void FolderFollower::watchLinkedFile(const QByteArray &name, bool linked) {
    if (!watch_ || following_.problem)
        return;
    if (!linked) {
        if (linkedFiles_.remove(name))
            watch_->unwatchFile(name);
        unwatchedLinks_.remove(name);
        return;
    }
    linkedFiles_.insert(name);
    if (std::optional<ScanFailure> failure = watch_->watchFile(name))
        unwatchedLinks_.insert(name, std::move(*failure));
    else
        unwatchedLinks_.remove(name);
}

void FolderFollower::unwatchLinkedFiles() {
    if (watch_)
        for (const QByteArray &name : std::as_const(linkedFiles_))
            watch_->unwatchFile(name);
    linkedFiles_.clear();
    unwatchedLinks_.clear();
}

// What following misses, in one line each: the folder above, and the linked files that could
// not be watched, counted. Whether that changed.
bool FolderFollower::tellGaps() {
    std::vector<ScanFailure> gaps;
    if (aboveGap_)
        gaps.push_back(*aboveGap_);
    if (!unwatchedLinks_.isEmpty()) {
        const ScanFailure &first = unwatchedLinks_.begin().value();
        ScanFailure gap = first;
        gap.text = QStringLiteral("cannot watch %1 for changes: %2; %3")
                       .arg(unwatchedLinks_.size() == 1
                                ? QStringLiteral("the account file %1, a link or a file with other "
                                                 "names,")
                                      .arg(first.path)
                                : QStringLiteral("%1 account files that are links or have other "
                                                 "names, such as %2,")
                                      .arg(unwatchedLinks_.size())
                                      .arg(first.path),
                            first.text,
                            QStringLiteral("a write through another name will not be noticed"));
        gaps.push_back(std::move(gap));
    }
    const bool changed =
        !std::equal(gaps.begin(), gaps.end(), following_.gaps.begin(), following_.gaps.end(),
                    [](const ScanFailure &a, const ScanFailure &b) { return a.text == b.text; });
    following_.gaps = std::move(gaps);
    return changed;
}

void FolderFollower::noteEmptied() {
    const ScanReport &report = ranking_->report();
    const QString why = whyNoAccountFiles(report);
    if (why.isEmpty()) {
        emptied_.reset();
        heldAccountFiles_ = heldAccountFiles_ || report.accountFiles > 0;
    } else if (heldAccountFiles_ && (!emptied_ || emptied_->why != why)) {
        emptied_ = Emptied{QDateTime::currentDateTimeUtc(), why};
    }
}

} // namespace orvantis
