#pragma once

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <vector>

namespace orvantis {

// How many places hold each sequence of one, two and three bytes in their folded texts: a
// search of a text that short (a letter, two, a syllable) is counted here at once, where
// reading the places that hold it would cost as much as it is common. Sequences that hold a zero
// byte, which ends each text, are not kept: no text holds them.
//
// The sequences kept are at most kMostKept: beyond them (a million accounts of unusual scripts
// could hold tens of millions) the counts already kept stay exact and the others are unknown.
class SequenceCounts {
public:
    static constexpr size_t kMostKept = size_t{1} << 20;

    // Each sequence of one to three bytes without a zero byte that starts at `at`, before
    // `end`, as a key with its length above its bytes: never 0.
    template <typename Take> static void eachKeyAt(const char *at, const char *end, Take take) {
        const auto byte = [at](int i) {
            return static_cast<uint32_t>(static_cast<unsigned char>(at[i]));
        };
        uint32_t key = 0;
        for (int length = 1; length <= 3 && at + length <= end && byte(length - 1) != 0; ++length) {
            key = (key << 8 | byte(length - 1)) & 0xFFFFFF;
            take(key | static_cast<uint32_t>(length) << 24);
        }
    }

    // Counts one place whose texts (each ended by a zero byte) are `texts`: each of their
    // sequences once, up (1) for a place that comes, down (-1) for one that goes.
    void count(const char *begin, const char *end, int sign);

    // How many places hold `needle`, when it is one to three bytes without a zero byte and its
    // count is known.
    std::optional<uint32_t> holders(const QByteArray &needle) const;

private:
    struct Entry {
        uint32_t key = 0; // 0: an empty slot
        uint32_t count = 0;
        uint32_t countedAt = 0; // the last place counted in it, so that a place counts once
    };
    Entry *find(uint32_t key);
    void grow();

    std::vector<Entry> table_; // open addressing, a power of two at most half full
    size_t kept_ = 0;
    bool full_ = false;  // sequences were left out
    uint32_t place_ = 0; // how many places were counted, wrapping
};

} // namespace orvantis
