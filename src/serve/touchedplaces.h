#pragma once

#include "scan/live/liveranking.h"

#include <cstdint>
#include <vector>

namespace orvantis {

// Which accounts a change touched: these places, or every one (a change merged in one pass).
struct TouchedPlaces {
    bool all = true;
    std::vector<uint32_t> places;
};

// The steps of a change, passed on to `next`, and the places of the accounts they touched.
class PlaceTracker : public RankingSteps {
public:
    explicit PlaceTracker(RankingSteps &next) : next_(next) {}

    void placeTouched(uint32_t place) override;
    void beginInsert(size_t row) override { next_.beginInsert(row); }
    void endInsert() override { next_.endInsert(); }
    void beginRemove(size_t row) override { next_.beginRemove(row); }
    void endRemove() override { next_.endRemove(); }
    void beginMove(size_t from, size_t to) override { next_.beginMove(from, to); }
    void endMove() override { next_.endMove(); }
    void rowChanged(size_t row) override { next_.rowChanged(row); }
    void beginReset() override;
    void endReset() override { next_.endReset(); }

    // What was touched since the last take.
    TouchedPlaces take();

private:
    RankingSteps &next_;
    TouchedPlaces touched_{false, {}};
};

} // namespace orvantis
