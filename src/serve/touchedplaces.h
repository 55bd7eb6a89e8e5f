#pragma once

#include "scan/accounts/accountrecords.h"
#include "scan/live/liveranking.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace orvantis {

// Which accounts a change touched: these places, or every one (a whole read, or a change merged
// in one pass).
struct TouchedPlaces {
    bool all = true;
    std::vector<uint32_t> places;
};

// The steps of a change, passed on to `next`, with the place of each account they touch taken
// from the records as they stand at that step.
class PlaceTracker : public RankingSteps {
public:
    PlaceTracker(RankingSteps &next, std::function<const AccountRecords &()> records)
        : next_(next), records_(std::move(records)) {}

    void beginInsert(size_t row) override;
    void endInsert() override;
    void beginRemove(size_t row) override;
    void endRemove() override { next_.endRemove(); }
    void beginMove(size_t from, size_t to) override;
    void endMove() override { next_.endMove(); }
    void rowChanged(size_t row) override;
    void beginReset() override;
    void endReset() override { next_.endReset(); }

    // What was touched since the last take; a whole read touches everything.
    TouchedPlaces take();
    void touchAll() { touched_.all = true; }

private:
    void touch(size_t row);

    RankingSteps &next_;
    std::function<const AccountRecords &()> records_;
    size_t inserting_ = 0;
    TouchedPlaces touched_{false, {}};
};

} // namespace orvantis
