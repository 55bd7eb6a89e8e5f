#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace orvantis {

// Why reading a folder, or watching it, could not go on: a value handed on beside the results,
// never thrown. What failed, the path it concerns, the system's error, and the text the user
// sees; `number` is the failure number the window's error report shows beside that text, 0
// where it shows none.
struct ScanFailure {
    enum What : uint8_t {
        FolderUnreadable, // a folder could not be opened, or listed to its end
        FileUnopenable,   // an account file could not be opened even alone: the program's shortage
        OutOfMemory,      // memory, threads or room for the texts ran out
        WatchUnavailable, // the folder's changes cannot be watched
        Other,            // anything else the program met
    };
    What what = Other;
    QString path;
    int systemError = 0; // an errno value; 0 when the system said nothing
    QString text;
    int32_t number = 0;
};

// A system call on `path` failed with `error`: the text is `subject`, then the system's words
// ("Cannot read the folder /srv/game/accounts: Permission denied").
ScanFailure systemScanFailure(ScanFailure::What what, int error, const QString &path,
                              const QString &subject);

// The exception being handled, as a failure; call it only from a catch block.
ScanFailure currentFailure() noexcept;

// Runs `work`: what it raises comes back as a failure, so that nothing is thrown past here.
template <typename Work> std::optional<ScanFailure> failureOf(Work &&work) noexcept {
    try {
        work();
        return std::nullopt;
    } catch (...) {
        return currentFailure();
    }
}

} // namespace orvantis
