#pragma once

#include "serve/snapshot.h"

#include <QByteArray>

namespace orvantis {

// /status, for monitoring: the generation and the time of the last change, the counts, the files
// left out with their reasons, whether the folder's changes are followed (or what keeps them
// from being followed whole), and why the folder could not be read again, since when, when it
// could not. One JSON object.
QByteArray statusJson(const Snapshot &snapshot);

} // namespace orvantis
