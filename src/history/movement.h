#pragma once

#include "history/pastranks.h"
#include "scan/live/liveranking.h"

#include <QByteArray>
#include <QHash>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace orvantis {

// Where each account of a ranking stood a day and a week before (0: not ranked then, or the
// history does not reach back so far), and whether it is a newcomer: by the places of the
// ranking's account files, so that a row finds its own at once.
struct PastPlace {
    uint32_t day = 0, week = 0;
    bool isNew = false;
    uint32_t peak = 0; // the best rank held before now; 0 for none yet
};
struct MovementTable {
    std::vector<PastPlace> byPlace;
    bool reachesDay = false, reachesWeek = false; // how far back the history reaches
    PastPlace of(uint32_t place) const {
        return place < byPlace.size() ? byPlace[place] : PastPlace();
    }
};

// Keeps the movement table of the ranking served up to date: made anew from the past ranks as
// the clock moves on and after a whole read, and for the places a change touched. A table handed
// out is never changed: a change makes a copy, and only when an entry changes. Used on the
// follower's thread.
class MovementKeeper {
public:
    // The best rank each account has held, by its file.
    explicit MovementKeeper(std::function<uint32_t(const QByteArray &)> peakOf)
        : peakOf_(std::move(peakOf)) {}
    // The accounts whose rank now is better than any they held, with it: kept in the table.
    std::vector<std::pair<QByteArray, uint32_t>> betterPeaks(const LiveRanking &ranking);
    void pastMade(std::shared_ptr<const PastRanks> past, const LiveRanking &ranking);
    // Newcomers seen since the past ranks were made, with the time each was first seen.
    void newcomer(const QByteArray &file, int64_t at) { newcomers_.insert(file, at); }
    void rankingChanged(const LiveRanking &ranking, bool all, const std::vector<uint32_t> &places);
    std::shared_ptr<const MovementTable> table() const { return table_; }

private:
    PastPlace pastOf(const LiveRanking &ranking, uint32_t place) const;

    std::function<uint32_t(const QByteArray &)> peakOf_;
    std::shared_ptr<const PastRanks> past_ = std::make_shared<PastRanks>();
    QHash<QByteArray, int64_t> newcomers_;
    std::shared_ptr<const MovementTable> table_ = std::make_shared<MovementTable>();
};

} // namespace orvantis
