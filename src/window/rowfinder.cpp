#include "window/rowfinder.h"

#include "scan/accounts/accountsearch.h"

#include <algorithm>

namespace orvantis {

void RowFinder::find(const QString &text) {
    text_ = text;
    matches_.clear();
    next_ = text.isEmpty() ? accounts_.rowCount() : 0;
}

bool RowFinder::matches(int row) const {
    return accountHolds(accounts_.records(), accounts_.characters(), static_cast<size_t>(row),
                        text_);
}

bool RowFinder::step(int rows) {
    const int count = accounts_.rowCount();
    const int end = std::min(count, next_ + rows);
    for (int row = next_; row < end; ++row)
        if (matches(row))
            matches_.push_back(row);
    next_ = std::max(next_, end);
    return done();
}

int RowFinder::matchFrom(int row) const {
    const auto at = std::lower_bound(matches_.begin(), matches_.end(), row);
    if (at != matches_.end())
        return *at;
    return matches_.empty() ? -1 : matches_.front();
}

int RowFinder::nextMatch(int row) const {
    return matchFrom(row + 1);
}

int RowFinder::previousMatch(int row) const {
    const auto at = std::lower_bound(matches_.begin(), matches_.end(), row);
    if (at != matches_.begin())
        return *(at - 1);
    return matches_.empty() ? -1 : matches_.back();
}

int RowFinder::placeOf(int row) const {
    const auto at = std::lower_bound(matches_.begin(), matches_.end(), row);
    return at != matches_.end() && *at == row ? static_cast<int>(at - matches_.begin()) + 1 : 0;
}

} // namespace orvantis
