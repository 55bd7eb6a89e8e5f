#pragma once

#include <memory>

namespace orvantis {

// While it lives, the signals that ask a program to stop end the event loop with status 0:
// SIGINT and SIGTERM on Linux; Ctrl+C, Ctrl+Break and the console's closing on Windows.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace orvantis
