#include "serve/searchgate.h"

#include <algorithm>
#include <cmath>

namespace orvantis {

namespace {

double tokensAt(double tokens, SearchGate::Clock::time_point filled,
                SearchGate::Clock::time_point now, const SearchLimits &limits) {
    const double seconds = std::chrono::duration<double>(now - filled).count();
    return std::min<double>(limits.burst, tokens + std::max(0.0, seconds) * limits.perSecond);
}

} // namespace

SearchGate::Verdict SearchGate::enter(const std::string &address, Clock::time_point now) {
    const std::lock_guard<std::mutex> guard(lock_);
    if (addresses_.size() >= kMostAddresses && addresses_.find(address) == addresses_.end()) {
        forgetIdle(now);
        if (addresses_.size() >= kMostAddresses)
            return {};
    }
    auto [entry, added] = addresses_.try_emplace(address, Address{double(limits_.burst), now});
    Address &client = entry->second;
    client.tokens = tokensAt(client.tokens, client.filled, now, limits_);
    client.filled = now;
    if (client.atOnce >= limits_.atOnce)
        return {Verdict::TooManyAtOnce, 1};
    if (client.tokens < 1) {
        const double wait = (1 - client.tokens) / limits_.perSecond;
        return {Verdict::TooFast, std::max(1, static_cast<int>(std::ceil(wait)))};
    }
    client.tokens -= 1;
    ++client.atOnce;
    return {};
}

void SearchGate::leave(const std::string &address) {
    const std::lock_guard<std::mutex> guard(lock_);
    const auto found = addresses_.find(address);
    if (found != addresses_.end() && found->second.atOnce > 0)
        --found->second.atOnce;
}

void SearchGate::forgetIdle(Clock::time_point now) {
    for (auto it = addresses_.begin(); it != addresses_.end();) {
        const Address &client = it->second;
        if (client.atOnce == 0 &&
            tokensAt(client.tokens, client.filled, now, limits_) >= limits_.burst)
            it = addresses_.erase(it);
        else
            ++it;
    }
}

} // namespace orvantis
