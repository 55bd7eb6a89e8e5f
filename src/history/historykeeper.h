#pragma once

#include "history/historyrecorder.h"
#include "history/historywriter.h"
#include "history/movement.h"
#include "history/pastranks.h"
#include "scan/live/liveranking.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>
#include <vector>

namespace orvantis {

// The history of a ranking, kept in an SQLite file: each ranking served is recorded by what it
// changed, and written on the writer's thread. How the history fares, and the wall clock, are
// looked at every kLookMs: the past ranks are made again once the clock has moved kPastStepMs
// (or was stepped back), and each account's movement with them. `told` hears each change of the
// history's health (a fault, or its end), `moved` each new movement table. Used on the
// follower's thread.
class HistoryKeeper : public QObject {
public:
    static constexpr int kLookMs = 1000;
    static constexpr int64_t kPastStepMs = 60'000;
    // ... and at most once a real second: a clock made to run fast (a test's) would otherwise
    // have them made without pause.
    static constexpr int64_t kPastRealMs = 1000;

    HistoryKeeper(QString path, std::function<void(const HistoryHealth &)> told,
                  std::function<void()> moved);

    // The ranking as served now: every account compared when `all`, else those at `places`.
    void record(std::shared_ptr<const LiveRanking> ranking, bool all,
                const std::vector<uint32_t> &places);
    HistoryHealth health() const { return writer_.health(); }
    // How each account of the ranking recorded last has moved.
    std::shared_ptr<const MovementTable> movement() const { return movement_.table(); }

private:
    void lookAtHealth();
    void lookAtClock();
    void lookAtPeaks();

    std::vector<AccountState> present_; // as the file held them at the start
    HistoryWriter writer_;
    HistoryRecorder recorder_;
    std::function<void(const HistoryHealth &)> told_;
    std::function<void()> moved_;
    QTimer look_;
    std::optional<QString> toldFault_;
    PastRankReader past_;
    std::optional<int64_t> pastAskedFor_;
    QElapsedTimer pastAsked_; // the monotonic clock, which no test makes run fast
    MovementKeeper movement_;
    std::shared_ptr<const LiveRanking> ranking_; // the one recorded last
};

} // namespace orvantis
