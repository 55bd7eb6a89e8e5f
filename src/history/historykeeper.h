#pragma once

#include "history/historyrecorder.h"
#include "history/historywriter.h"
#include "scan/live/liveranking.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>
#include <vector>

namespace orvantis {

// The history of a ranking, kept in an SQLite file: each ranking served is recorded by what it
// changed, and written on the writer's thread. How the history fares is looked at every
// kHealthMs; `told` hears each change of it (a fault, or its end). Used on the follower's
// thread.
class HistoryKeeper : public QObject {
public:
    static constexpr int kHealthMs = 1000;

    HistoryKeeper(QString path, std::function<void(const HistoryHealth &)> told);

    // The ranking as served now: every account compared when `all`, else those at `places`.
    void record(const LiveRanking &ranking, bool all, const std::vector<uint32_t> &places);
    HistoryHealth health() const { return writer_.health(); }

private:
    void lookAtHealth();

    std::vector<AccountState> present_; // as the file held them at the start
    HistoryWriter writer_;
    HistoryRecorder recorder_;
    std::function<void(const HistoryHealth &)> told_;
    QTimer healthCheck_;
    std::optional<QString> toldFault_;
};

} // namespace orvantis
