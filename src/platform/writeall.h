#pragma once

#include <cstddef>

namespace orvantis {

// Writes every byte of `data` to the descriptor: on after a short write or a signal, and, where
// the descriptor is non-blocking (a pipe its reader set so), waiting until it takes more rather
// than giving up. Returns 0 once all is written, or the errno that stopped it.
int writeAll(int fd, const char *data, size_t size);

} // namespace orvantis
