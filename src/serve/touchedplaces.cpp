#include "serve/touchedplaces.h"

namespace orvantis {

void PlaceTracker::touch(size_t row) {
    touched_.places.push_back(records_()[row].place);
}

void PlaceTracker::beginInsert(size_t row) {
    inserting_ = row;
    next_.beginInsert(row);
}

void PlaceTracker::endInsert() {
    touch(inserting_); // there now
    next_.endInsert();
}

void PlaceTracker::beginRemove(size_t row) {
    touch(row); // still there
    next_.beginRemove(row);
}

void PlaceTracker::beginMove(size_t from, size_t to) {
    touch(from);
    next_.beginMove(from, to);
}

void PlaceTracker::rowChanged(size_t row) {
    touch(row);
    next_.rowChanged(row);
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
