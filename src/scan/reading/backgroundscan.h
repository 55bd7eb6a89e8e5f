#pragma once

#include "scan/reading/scanaccounts.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace orvantis {

// scanAccounts on a thread of its own, so that the thread that starts it (the window's) stays
// free. That thread asks now and then whether it has finished, and then takes the finished,
// ranked records, or the failure its report names; nothing is shared meanwhile but the progress
// counters.
class BackgroundScan {
public:
    // Starts the scan of the accounts folder of `programFolder` at once. `settings.progress` is
    // the scan's own and need not be given. When no thread can be had for it, the scan has
    // finished at once with that failure. `whenFinished`, when given, is called once the
    // outcome can be taken, on the scan's thread (or on this one, for that failure).
    explicit BackgroundScan(QString programFolder, ScanSettings settings = {},
                            std::function<void()> whenFinished = {});
    // Stops the scan if it still runs (see stop()).
    ~BackgroundScan();
    BackgroundScan(const BackgroundScan &) = delete;
    BackgroundScan &operator=(const BackgroundScan &) = delete;

    static constexpr std::chrono::milliseconds kStopWait{300};

    // Asks a running scan to stop and waits for it for at most kStopWait. True when it has
    // ended; false when it is held longer (a read that does not return), and then it is left to
    // end on its own, owning all it uses: the process had better not wait for it either.
    bool stop();

    bool finished() const;
    // Waits until the scan has finished, for at most `timeout`; whether it has.
    bool waitFor(std::chrono::milliseconds timeout) const;
    size_t filesFound() const;
    size_t filesRead() const;
    // Once finished: the result, which is handed over once.
    ScanResult take();

private:
    struct State;
    static void run(State &state);
    static void finish(State &state, ScanResult result);
    std::shared_ptr<State> state_;
    std::thread thread_;
};

} // namespace orvantis
