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
// group keeps, for every three-byte sequence (hashed to one of kBits), a word with a bit for each
// of its chunks that holds it: a search ANDs one word per sequence of its text and reads only
// the chunks left, so a million accounts cost it a few hundred words. Chunks and groups are
// shared by every index made from them and made again only when one of their places is touched:
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
    // Sequences told apart: a chunk's few hundred set about a third of the bits, so each
    // sequence of a search's text passes a third of the chunks that lack it, and a name of
    // six letters few.
    static constexpr uint32_t kBitsLog2 = 11;
    static constexpr uint32_t kBits = uint32_t{1} << kBitsLog2;
    static constexpr uint32_t kGroupChunks = 64; // one bit of a word each
    struct Chunk {
        QByteArray text;            // each place's texts, folded, each ended by a zero byte
        std::vector<uint32_t> ends; // where each place's texts end in `text`
    };
    struct Group {
        std::array<uint64_t, kBits> chunksHolding{}; // per sequence, its chunks in this group
    };
    static uint32_t sequenceBit(const char *at);
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
