#include "console/progressline.h"

#include <unistd.h>

namespace orvantis {

ScanProgressLine::ScanProgressLine(std::FILE *stream)
    : stream_(stream), terminal_(::isatty(::fileno(stream)) == 1) {}

void ScanProgressLine::show(size_t filesRead, size_t filesFound) {
    if (!terminal_)
        return;
    // Back to the line's start, the text, and the rest of the line cleared.
    std::fprintf(stream_, "\r%zu of %zu account files read\033[K", filesRead, filesFound);
    std::fflush(stream_);
    shown_ = true;
}

void ScanProgressLine::erase() {
    if (!shown_)
        return;
    std::fputs("\r\033[K", stream_);
    std::fflush(stream_);
    shown_ = false;
}

} // namespace orvantis
