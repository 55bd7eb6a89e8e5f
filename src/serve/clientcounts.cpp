#include "serve/clientcounts.h"

namespace orvantis {

void ClientCounts::add(const std::string &key) {
    const std::lock_guard<std::mutex> guard(lock_);
    ++held_[key];
}

bool ClientCounts::addBelow(const std::string &key, unsigned most) {
    const std::lock_guard<std::mutex> guard(lock_);
    unsigned &held = held_[key];
    if (held >= most)
        return false;
    ++held;
    return true;
}

void ClientCounts::remove(const std::string &key) {
    const std::lock_guard<std::mutex> guard(lock_);
    const auto found = held_.find(key);
    if (found == held_.end())
        return;
    if (--found->second == 0) // an address that holds nothing takes no room
        held_.erase(found);
}

ClientCounts::Slot &ClientCounts::Slot::operator=(Slot &&other) noexcept {
    if (this != &other) {
        if (counts_)
            counts_->remove(key_);
        counts_ = other.counts_;
        key_ = std::move(other.key_);
        other.counts_ = nullptr;
    }
    return *this;
}

} // namespace orvantis
