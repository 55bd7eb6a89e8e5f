#include "serve/ratedlog.h"

namespace orvantis {

RatedLog::RatedLog(std::function<void(const QString &)> say, Clock::duration period, size_t lines)
    : say_(std::move(say)), period_(period), lines_(lines), periodStart_(Clock::now()) {}

void RatedLog::endPeriodIfOver(Clock::time_point now) {
    if (now - periodStart_ < period_)
        return;
    if (heldBack_ > 0)
        say_(
            QStringLiteral("%1 more such lines in the last %2 s")
                .arg(heldBack_)
                .arg(std::chrono::duration_cast<std::chrono::seconds>(now - periodStart_).count()));
    periodStart_ = now;
    said_ = heldBack_ = 0;
}

void RatedLog::say(const QString &line) {
    const std::lock_guard<std::mutex> guard(lock_);
    endPeriodIfOver(Clock::now());
    if (said_ < lines_) {
        ++said_;
        say_(line);
    } else {
        ++heldBack_;
    }
}

void RatedLog::flush() {
    const std::lock_guard<std::mutex> guard(lock_);
    endPeriodIfOver(Clock::now());
}

} // namespace orvantis
