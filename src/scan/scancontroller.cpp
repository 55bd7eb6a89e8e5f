#include "scan/scancontroller.h"

#include "scan/accountfile.h"
#include "scan/folderfiles.h"

#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace orvantis {

// Hands work done on other threads to the controller's thread, as long as the controller is
// there: it lets go of the relay as it goes, and calls posted after that are dropped. The calls
// wait here, under a lock both threads take, and a bare queued call to runPosted() fetches
// them: nothing a thread made crosses to the other outside that lock.
struct ScanController::Relay {
    std::mutex lock;
    ScanController *target = nullptr;
    std::vector<std::function<void(ScanController &)>> calls;

    void post(std::function<void(ScanController &)> call) {
        const std::lock_guard<std::mutex> guard(lock);
        if (!target)
            return;
        calls.push_back(std::move(call));
        if (calls.size() == 1)
            QMetaObject::invokeMethod(target, "runPosted", Qt::QueuedConnection);
    }
    std::vector<std::function<void(ScanController &)>> take() {
        const std::lock_guard<std::mutex> guard(lock);
        return std::exchange(calls, {});
    }
    void letGo() {
        const std::lock_guard<std::mutex> guard(lock);
        target = nullptr;
        calls.clear();
    }
};

void ScanController::runPosted() {
    for (auto &call : relay_->take())
        guarded([&] { call(*this); });
}

ScanController::ScanController(QString programFolder, ScanSettings settings, WatchMaker makeWatch,
                               QObject *parent)
    : QObject(parent), programFolder_(std::move(programFolder)), settings_(std::move(settings)),
      makeWatch_(std::move(makeWatch)), relay_(std::make_shared<Relay>()) {
    relay_->target = this;
    if (!makeWatch_)
        makeWatch_ = makeSystemFolderWatch;
    gather_.setSingleShot(true);
    gather_.setInterval(kGatherMs);
    connect(&gather_, &QTimer::timeout, this, [this] { guarded([this] { readGathered(); }); });
}

ScanController::~ScanController() {
    relay_->letGo();
    if (watch_)
        watch_->stop();
    stopScan();
}

size_t ScanController::filesFound() const {
    return scan_ ? scan_->filesFound() : 0;
}

size_t ScanController::filesRead() const {
    return scan_ ? scan_->filesRead() : 0;
}

void ScanController::failed(std::exception_ptr error) noexcept {
    following_ = false;
    if (watch_)
        watch_->stop();
    ScanEnd end;
    end.error = std::move(error);
    end.quiet = true;
    emit scanEnded(end);
}

void ScanController::scan() {
    startScan(false);
}

bool ScanController::stopScan() {
    if (!scan_)
        return true;
    const bool ended = scan_->stop();
    scan_.reset();
    return ended;
}

void ScanController::startScan(bool quiet) {
    if (scan_)
        return;
    ++generation_;
    // The scan reads every file after now: what changed before is in it.
    pending_.clear();
    pendingNames_.clear();
    gather_.stop();
    scanQuiet_ = quiet;
    scan_ = std::make_unique<BackgroundScan>(programFolder_, settings_, [relay = relay_] {
        relay->post([](ScanController &controller) { controller.scanFinished(); });
    });
    emit scanStarted();
}

void ScanController::scanFinished() {
    if (!scan_ || !scan_->finished())
        return; // stopped meanwhile, or another one's
    BackgroundScan::Outcome outcome = scan_->take();
    scan_.reset();
    ScanEnd end;
    end.quiet = scanQuiet_;
    end.error = outcome.error;
    if (!end.error) {
        const auto &listing = outcome.result.report.listing;
        folder_ = listing ? listing->folder() : QString();
        try {
            end.ranking = std::make_shared<LiveRanking>(std::move(outcome.result));
        } catch (...) {
            end.error = std::current_exception();
        }
    }
    emit scanEnded(end);
    if (std::exchange(scanAgain_, false) && following_)
        startScan(true);
    else
        gatherSoon();
}

void ScanController::setFollowing(bool on) {
    if (on == following_)
        return;
    following_ = on;
    if (!on) {
        if (watch_)
            watch_->stop();
        problem_.clear();
        pending_.clear();
        pendingNames_.clear();
        gather_.stop();
        emit followingChanged();
        return;
    }
    since_ = QDateTime::currentDateTime();
    lastChange_ = QDateTime();
    watchFolder();
    if (scan_)
        scanAgain_ = true; // this one may have read some files before the watch began
    else if (generation_ > 0)
        startScan(true); // else the first scan is yet to come, and reads what is watched
}

// Watches the folder the accounts entry names now, before it is read, so that no change made
// while it is read goes unseen.
void ScanController::watchFolder() {
    if (!watch_)
        watch_ = makeWatch_(this);
    const QString path = resolvePathIgnoringCase(programFolder_ + QStringLiteral("/accounts"));
    problem_ = watch_->watch(path, [this](std::vector<FolderEvent> events) {
        guarded([&] { take(std::move(events)); });
    });
    emit followingChanged();
}

void ScanController::take(std::vector<FolderEvent> events) {
    if (!following_)
        return;
    bool lost = false, replaced = false;
    for (FolderEvent &event : events) {
        switch (event.kind) {
        case FolderEvent::EntryChanged: {
            const std::string_view name(event.name.constData(),
                                        static_cast<size_t>(event.name.size()));
            if (isAccountFileRawName(name) && !pendingNames_.contains(event.name)) {
                pendingNames_.insert(event.name);
                pending_.push_back(std::move(event.name));
            }
            break;
        }
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
            if (following_)
                guarded([this] {
                    watchFolder();
                    scanForChanges();
                });
        });
        return;
    }
    if (lost) {
        scanForChanges(); // a change is never lost: the whole folder is read again
        return;
    }
    gatherSoon();
}

void ScanController::scanForChanges() {
    if (scan_)
        scanAgain_ = true;
    else
        startScan(true);
}

// Started by the first name and never put off by later ones.
void ScanController::gatherSoon() {
    if (following_ && !pending_.empty() && !scan_ && !reading_ && !gather_.isActive())
        gather_.start();
}

void ScanController::readGathered() {
    if (!following_ || scan_ || reading_ || pending_.empty())
        return;
    std::vector<QByteArray> names = std::move(pending_);
    pending_.clear();
    pendingNames_.clear();
    reading_ = true;
    const unsigned generation = generation_;
    try {
        // Owns all it uses: left to end on its own if the controller goes first.
        std::thread([relay = relay_, folder = folder_, names, generation]() mutable {
            ChangesRead read = readChangedFiles(folder, names);
            relay->post([read = std::move(read), generation,
                         names = std::move(names)](ScanController &controller) mutable {
                controller.changesFinished(std::move(read), generation, std::move(names));
            });
        }).detach();
    } catch (const std::system_error &) { // no thread to be had: read them all again
        reading_ = false;
        scanForChanges();
    }
}

void ScanController::changesFinished(ChangesRead read, unsigned generation,
                                     std::vector<QByteArray> names) {
    reading_ = false;
    if (!following_)
        return;
    if (generation != generation_) {
        // A full scan began meanwhile: these files are read again after it.
        for (QByteArray &name : names)
            if (!pendingNames_.contains(name)) {
                pendingNames_.insert(name);
                pending_.push_back(std::move(name));
            }
        gatherSoon();
        return;
    }
    if (read.error) {
        scanForChanges(); // the folder gone, or the program short: a full scan says which
        return;
    }
    lastChange_ = QDateTime::currentDateTime();
    emit changesRead(read.files);
    gatherSoon();
}

} // namespace orvantis
