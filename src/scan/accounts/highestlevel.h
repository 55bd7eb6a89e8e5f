#pragma once

#include <cstdint>

namespace orvantis {

// Which character slot holds the highest level: slot 1, 2 or 3 for a slot above both others,
// with that level; slot 0 ("X" where it is shown) and level 0 when the top level is shared.
struct HighestLevel {
    uint8_t slot;
    int32_t level;
};

constexpr HighestLevel findHighestLevel(int32_t l1, int32_t l2, int32_t l3) {
    if (l1 > l2 && l1 > l3)
        return {1, l1};
    if (l2 > l1 && l2 > l3)
        return {2, l2};
    if (l3 > l1 && l3 > l2)
        return {3, l3};
    return {0, 0};
}

} // namespace orvantis
