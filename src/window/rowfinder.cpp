#include "window/rowfinder.h"

#include "scan/reportcolumns.h"

#include <algorithm>

namespace orvantis {

void RowFinder::find(const QString &text) {
    text_ = text;
    matches_.clear();
    next_ = text.isEmpty() ? list_.listItems().Count() : 0;
}

bool RowFinder::matches(int row) const {
    if (QStringView(list_.cell(row, kLoginColumn)).contains(text_, Qt::CaseInsensitive) ||
        QStringView(list_.cell(row, kNameColumn)).contains(text_, Qt::CaseInsensitive))
        return true;
    if (!report_.characters)
        return false;
    const uint32_t tag = list_.rowTag(row);
    for (int slot = 1; slot <= AccountCharacters::kSlots; ++slot)
        if (report_.characters->name(tag, slot).contains(text_, Qt::CaseInsensitive))
            return true;
    return false;
}

bool RowFinder::step(int rows) {
    const int count = list_.listItems().Count();
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
