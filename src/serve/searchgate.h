#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

namespace orvantis {

// How many searches one client address may have answered, so that a script cannot take the
// server's threads from everyone else: a few at once, and a rate with a burst (a bucket of
// tokens that fills at `perSecond` up to `burst`; each search takes one).
struct SearchLimits {
    unsigned atOnce = 4;
    unsigned perSecond = 20;
    unsigned burst = 40;
};

class SearchGate {
public:
    using Clock = std::chrono::steady_clock;
    explicit SearchGate(const SearchLimits &limits) : limits_(limits) {}

    // Whether a search from `address` (ClientAddress::key) may go on at `now`: when not, which
    // limit holds it back and how many whole seconds until it would not. A search that passes
    // leaves when answered.
    struct Verdict {
        enum Kind { Pass, TooManyAtOnce, TooFast } kind = Pass;
        int retryAfterSeconds = 0;
    };
    Verdict enter(const std::string &address, Clock::time_point now);
    void leave(const std::string &address);

    // Addresses kept at most, so that a flood of addresses cannot grow the table without end:
    // beyond, those with a full bucket and nothing at once are let go (they are as new ones),
    // and when none is, a new address goes uncounted.
    static constexpr size_t kMostAddresses = 65536;

private:
    struct Address {
        double tokens;
        Clock::time_point filled; // when `tokens` was counted
        unsigned atOnce = 0;
    };
    void forgetIdle(Clock::time_point now);

    SearchLimits limits_;
    std::mutex lock_;
    std::unordered_map<std::string, Address> addresses_;
};

} // namespace orvantis
