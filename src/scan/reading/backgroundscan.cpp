#include "scan/reading/backgroundscan.h"

#include "platform/failure.h"

#include <condition_variable>
#include <mutex>

namespace orvantis {

// Everything the scan's thread uses. The thread holds a share of it, so that a scan left running
// when its BackgroundScan goes still has all it needs.
struct BackgroundScan::State {
    QString programFolder;
    ScanSettings settings;
    ScanProgress progress;
    std::function<void()> whenFinished;

    std::mutex lock;
    std::condition_variable ended;
    bool done = false; // guarded by `lock`
    ScanResult result; // written by the scan before `done` is set, read by the owner after
};

BackgroundScan::BackgroundScan(QString programFolder, ScanSettings settings,
                               std::function<void()> whenFinished)
    : state_(std::make_shared<State>()) {
    state_->programFolder = std::move(programFolder);
    state_->whenFinished = std::move(whenFinished);
    state_->settings = std::move(settings);
    state_->settings.progress = &state_->progress;
    try {
        thread_ = std::thread([state = state_] { run(*state); });
    } catch (const std::exception &error) { // no thread to be had: the scan ends before it began
        ScanResult result;
        result.report.failure = ScanFailure{
            ScanFailure::OutOfMemory, QString(), 0,
            QStringLiteral("Cannot start the scan: ") + describeError(error), kOutOfMemory};
        finish(*state_, std::move(result));
    }
}

void BackgroundScan::run(State &state) {
    ScanResult result;
    if (std::optional<ScanFailure> failure =
            failureOf([&] { result = scanAccounts(state.programFolder, state.settings); })) {
        result = ScanResult();
        result.report.failure = std::move(failure);
    }
    finish(state, std::move(result));
}

void BackgroundScan::finish(State &state, ScanResult result) {
    {
        const std::lock_guard<std::mutex> guard(state.lock);
        state.result = std::move(result);
        state.done = true;
        state.ended.notify_all();
    }
    if (state.whenFinished)
        state.whenFinished();
}

BackgroundScan::~BackgroundScan() {
    stop();
}

bool BackgroundScan::stop() {
    if (!thread_.joinable())
        return finished();
    state_->progress.stop = true;
    std::unique_lock<std::mutex> guard(state_->lock);
    const bool ended = state_->ended.wait_for(guard, kStopWait, [this] { return state_->done; });
    guard.unlock();
    if (ended)
        thread_.join();
    else
        thread_.detach();
    return ended;
}

bool BackgroundScan::finished() const {
    const std::lock_guard<std::mutex> guard(state_->lock);
    return state_->done;
}

bool BackgroundScan::waitFor(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> guard(state_->lock);
    return state_->ended.wait_for(guard, timeout, [this] { return state_->done; });
}

size_t BackgroundScan::filesFound() const {
    return state_->progress.filesFound;
}

size_t BackgroundScan::filesRead() const {
    return state_->progress.filesRead;
}

ScanResult BackgroundScan::take() {
    if (thread_.joinable() && finished())
        thread_.join(); // it has nothing left to do but end
    const std::lock_guard<std::mutex> guard(state_->lock);
    return std::move(state_->result);
}

} // namespace orvantis
