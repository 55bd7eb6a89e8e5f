#include "serve/changedranks.h"

#include <algorithm>

namespace orvantis {

std::vector<ChangedRanks::Range> ChangedRanks::take() {
    std::vector<Range> ranges = std::move(ranges_);
    ranges_.clear();
    std::sort(ranges.begin(), ranges.end());
    std::vector<Range> merged;
    for (const Range &range : ranges) {
        if (!merged.empty() && range.first - 1 <= merged.back().second)
            merged.back().second = std::max(merged.back().second, range.second);
        else
            merged.push_back(range);
    }
    return merged;
}

} // namespace orvantis
