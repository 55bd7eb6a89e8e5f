#pragma once

#include <mutex>
#include <string>
#include <unordered_map>

namespace orvantis {

// What each client address holds open at once (its connections, or behind a trusted proxy its
// requests), keyed by ClientAddress::key(). Used from every serving thread.
class ClientCounts {
public:
    void add(const std::string &key);
    // Adds one to `key` if it holds fewer than `most`: whether it did.
    bool addBelow(const std::string &key, unsigned most);
    void remove(const std::string &key);

    // One held for as long as it lives.
    class Slot {
    public:
        Slot() = default;
        Slot(ClientCounts *counts, std::string key) : counts_(counts), key_(std::move(key)) {}
        Slot(Slot &&other) noexcept : counts_(other.counts_), key_(std::move(other.key_)) {
            other.counts_ = nullptr;
        }
        Slot &operator=(Slot &&other) noexcept;
        ~Slot() {
            if (counts_)
                counts_->remove(key_);
        }

    private:
        ClientCounts *counts_ = nullptr;
        std::string key_;
    };

private:
    std::mutex lock_;
    std::unordered_map<std::string, unsigned> held_;
};

} // namespace orvantis
