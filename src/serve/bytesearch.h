#pragma once

#include <cstddef>

namespace orvantis {

// Where `needle` (`length` bytes, at least one) first starts in the bytes from `at` to `end`, or
// null. A search's texts are a few bytes and the texts it looks through a few dozen to a few
// thousand: memmem's setup for each of them costs more than the looking, so candidates are
// found sixteen places at a time by the needle's first and last bytes.
const char *findBytes(const char *at, const char *end, const char *needle, size_t length);

} // namespace orvantis
