#include "serve/touchedplaces.h"

namespace orvantis {

void PlaceTracker::placeTouched(uint32_t place) {
    touched_.places.push_back(place);
    next_.placeTouched(place);
}

void PlaceTracker::beginReset() {
    touched_.all = true;
    next_.beginReset();
}

TouchedPlaces PlaceTracker::take() {
    TouchedPlaces touched = std::move(touched_);
    touched_ = {false, {}};
    return touched;
}

} // namespace orvantis
