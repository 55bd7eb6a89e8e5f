#pragma once

#include <QString>

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>

namespace orvantis {

// Lines about what clients do, which a flood of clients could make without end: at most
// `lines` in each `period`, the rest counted and said as one line when the period is over, so
// that no flood fills the journal. Used from any thread.
class RatedLog {
public:
    using Clock = std::chrono::steady_clock;
    RatedLog(std::function<void(const QString &)> say, Clock::duration period, size_t lines);

    void say(const QString &line);
    // Says how many lines were held back, once their period is over.
    void flush();

private:
    void endPeriodIfOver(Clock::time_point now);

    std::function<void(const QString &)> say_;
    Clock::duration period_;
    size_t lines_;
    std::mutex lock_;
    Clock::time_point periodStart_;
    size_t said_ = 0;
    size_t heldBack_ = 0;
};

} // namespace orvantis
