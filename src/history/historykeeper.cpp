#include "history/historykeeper.h"

#include <QDateTime>

#include <utility>

namespace orvantis {

HistoryKeeper::HistoryKeeper(QString path, std::function<void(const HistoryHealth &)> told,
                             std::function<void()> moved)
    : writer_(path, present_), recorder_(writer_, present_), told_(std::move(told)),
      moved_(std::move(moved)), past_(std::move(path)),
      movement_([this](const QByteArray &file) { return recorder_.peakOf(file); }) {
    std::vector<AccountState>().swap(present_); // the recorder keeps what it needs of them
    connect(&look_, &QTimer::timeout, this, [this] {
        lookAtHealth();
        lookAtClock();
        lookAtPeaks();
    });
    look_.start(kLookMs);
    lookAtHealth(); // a file that cannot be used is said at the start
}

void HistoryKeeper::record(std::shared_ptr<const LiveRanking> ranking, bool all,
                           const std::vector<uint32_t> &places) {
    ranking_ = std::move(ranking);
    if (all)
        recorder_.compareAll(*ranking_);
    else if (!places.empty())
        recorder_.compare(*ranking_, places);
    for (const auto &[file, at] : recorder_.takeNewcomers())
        movement_.newcomer(file, at);
    movement_.rankingChanged(*ranking_, all, places);
    if (!pastAskedFor_)
        lookAtClock(); // the first past ranks as soon as there is a ranking
}

void HistoryKeeper::lookAtHealth() {
    const HistoryHealth health = writer_.health();
    std::optional<QString> fault;
    if (health.fault)
        fault = health.fault->text;
    if (fault == toldFault_)
        return;
    toldFault_ = fault;
    told_(health);
}

// The clock followed as it is, stepped or running fast: the past ranks are for the moment it
// says now.
void HistoryKeeper::lookAtClock() {
    if (!ranking_)
        return;
    if (std::shared_ptr<const PastRanks> made = past_.take()) {
        movement_.pastMade(std::move(made), *ranking_);
        moved_();
    }
    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    if (pastAskedFor_ && ((now >= *pastAskedFor_ && now - *pastAskedFor_ < kPastStepMs) ||
                          pastAsked_.elapsed() < kPastRealMs))
        return;
    pastAskedFor_ = now;
    pastAsked_.start();
    past_.ask(now);
}

// The ranks held now, compared once a second with the best each account held: a rank held for
// less than that may go unseen, a second's work for a million accounts is a few milliseconds.
void HistoryKeeper::lookAtPeaks() {
    if (!ranking_)
        return;
    const std::vector<std::pair<QByteArray, uint32_t>> better = movement_.betterPeaks(*ranking_);
    if (better.empty())
        return;
    recorder_.notePeaks(better);
    moved_();
}

} // namespace orvantis
