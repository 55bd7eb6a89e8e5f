#pragma once

#include "scan/live/liveranking.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace orvantis {

// The ranks a change of the ranking touched, told by its steps, as ranges of ranks from 1, merged
// and in order: a row inserted or removed touches every rank from its own to the last, a row
// moved the ranks between its two places, a row changed its own; a reset touches them all. What
// a page shows needs fetching again when one of its ranks is in them.
class ChangedRanks : public RankingSteps {
public:
    using Range = std::pair<int64_t, int64_t>;  // first and last rank, both in
    static constexpr int64_t kLast = INT64_MAX; // to the last rank, however many there are now

    void beginInsert(size_t row) override { add(row, kLast); }
    void beginRemove(size_t row) override { add(row, kLast); }
    void beginMove(size_t from, size_t to) override {
        add(std::min(from, to), static_cast<int64_t>(std::max(from, to)) + 1);
    }
    void rowChanged(size_t row) override { add(row, static_cast<int64_t>(row) + 1); }
    void beginReset() override { add(0, kLast); }

    // The ranges, merged, and none left for the next change.
    std::vector<Range> take();

private:
    void add(size_t row, int64_t lastRank) {
        ranges_.emplace_back(static_cast<int64_t>(row) + 1, lastRank);
    }
    std::vector<Range> ranges_;
};

} // namespace orvantis
