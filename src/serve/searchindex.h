#pragma once

#include "scan/accounts/accountcharacters.h"
#include "scan/accounts/accountrecords.h"
#include "serve/touchedplaces.h"

#include <QByteArray>
#include <QStringView>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace orvantis {

// Where a search of a million accounts looks: every account's login and character names, case
// folded, in chunks of consecutive places (account files). Chunks go in groups of 64, and each
// group keeps, for every sequence of one, two and three bytes (hashed, each length to words of
// its own), a word with a bit for each of its chunks that holds it: a search ANDs one word per
// sequence of its text and reads only the chunks left, so a million accounts cost it a few
// hundred words, and a text of two letters that few names hold reads few chunks. Chunks and groups
// are shared by every index made from them and made again only when one of their places is touched:
// a change of a few files costs a few chunks and their groups, not a million accounts.
//
// It finds candidates: every account holding the text is among them, and accountHolds, the rule
// of a match, decides (case folding is that rule's, code point by code point).
class SearchIndex {
public:
    static constexpr uint32_t kChunkPlaces = 32;

    // This index, its touched chunks made again from the records and characters (`rowOfPlace`
    // gives each place's row, or kNoRow).
    SearchIndex updated(const AccountRecords &records, const AccountCharacters &characters,
                        const std::vector<uint32_t> &rowOfPlace,
                        const TouchedPlaces &touched) const;

    // What lets a search's text through: the text folded, and the chunks that may hold it (bit
    // c % 64 of word c / 64 for chunk c), from one word of each group per sequence of the text.
    struct Sieve {
        QByteArray needle;
        std::vector<uint64_t> chunks;
    };
    Sieve sieve(QStringView text) const;

    // Calls `take` with each place whose texts may hold the sieve's text, in place order, until
    // it says to stop: the chunks whose texts were read.
    size_t eachCandidate(const Sieve &sieve, const std::function<bool(uint32_t)> &take) const;
    // Whether the texts of `place` may hold the sieve's text: its chunk and its own texts only.
    bool mayHold(const Sieve &sieve, uint32_t place) const;

    // The text case folded as a search folds it, in UTF-8.
    static QByteArray folded(QStringView text);

    static constexpr uint32_t kNoRow = UINT32_MAX;

private:
    // Sequences told apart. A chunk holds some six hundred sequences of three bytes, which set
    // 7 % of 8,192 words; its fewer pairs set about as few of 4,096; single bytes are told apart
    // whole. So a sequence of a search's text passes few of the chunks that lack it, for some
    // 100 KB a group (50 MB at a million accounts).
    static constexpr uint32_t kTriplesLog2 = 13;
    static constexpr uint32_t kPairsLog2 = 12;
    static constexpr uint32_t kPairsAt = uint32_t{1} << kTriplesLog2;
    static constexpr uint32_t kBytesAt = kPairsAt + (uint32_t{1} << kPairsLog2);
    static constexpr uint32_t kWords = kBytesAt + 256;
    static constexpr uint32_t kGroupChunks = 64; // one bit of a word each
    struct Chunk {
        QByteArray text;            // each place's texts, folded, each ended by a zero byte
        std::vector<uint32_t> ends; // where each place's texts end in `text`
    };
    struct Group {
        std::array<uint64_t, kWords> chunksHolding{}; // per sequence, its chunks in this group
    };
    // The words of the sequences of one, two and three bytes that start at `at`, before `end`.
    template <typename Take> static void eachSequenceAt(const char *at, const char *end, Take take);
    static std::shared_ptr<const Chunk> chunkOf(uint32_t first, const AccountRecords &records,
                                                const AccountCharacters &characters,
                                                const std::vector<uint32_t> &rowOfPlace);
    std::shared_ptr<const Group> groupOf(size_t group) const;

    std::vector<std::shared_ptr<const Chunk>> chunks_;
    std::vector<std::shared_ptr<const Group>> groups_;
};

// Each place's row in `records` (kNoRow for places without one), over `places` places at least.
std::vector<uint32_t> rowsOfPlaces(const AccountRecords &records, size_t places);

} // namespace orvantis
