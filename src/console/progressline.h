#pragma once

#include <cstddef>
#include <cstdio>

namespace orvantis {

// One line on a terminal that says how far a scan has come, rewritten in place and erased at
// the end. On anything but a terminal it writes nothing, so that scripts see no change.
class ScanProgressLine {
public:
    explicit ScanProgressLine(std::FILE *stream);
    void show(size_t filesRead, size_t filesFound);
    void erase();

private:
    std::FILE *stream_;
    bool terminal_;
    bool shown_ = false;
};

} // namespace orvantis
