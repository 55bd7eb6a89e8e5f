#pragma once

#include "scan/accounts/accountcharacters.h"
#include "scan/accounts/accountrecords.h"
#include "serve/sequencecounts.h"
#include "serve/touchedplaces.h"

#include <QByteArray>
#include <QStringView>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace orvantis {

// Where a search of a million accounts looks: every account's login and character names, case
// folded, in chunks of consecutive places (account files). Chunks go in groups of 64, and each
// group keeps, for every sequence of one, two and three bytes (hashed, each length to words of
// its own), a word with a bit for each of its chunks that holds it: a search ANDs one word per
// sequence of its text (of its longest, three bytes in most) and reads only the chunks left, so a
// million accounts cost it a few hundred words, and a text of two letters that few names hold reads
// few chunks. Each place keeps a word of 64 bits of its own for its triples, so that a longer
// text's chunk is read only at the places that may hold it (a chunk's names share most syllables,
// not a name). Beside them, how many accounts hold each sequence of one to three bytes: a text that
// short is counted without reading a chunk. Chunks and groups are shared by every index made from
// them and made again only when one of their places is touched: a change of a few files costs a few
// chunks and their groups, not a million accounts.
//
// Its chunks hold the texts case folded code point by code point, as the rule of a match
// (accountHolds) folds them: a place's folded texts hold a text's folded bytes exactly when the
// rule finds the text in them, for any text without a zero byte (which ends each of them).
class SearchIndex {
public:
    static constexpr uint32_t kChunkPlaces = 32;

    // This index, its touched chunks made again from the records and characters (`rowOfPlace`
    // gives each place's row, or kNoRow).
    SearchIndex updated(const AccountRecords &records, const AccountCharacters &characters,
                        const std::vector<uint32_t> &rowOfPlace,
                        const TouchedPlaces &touched) const;

    // What lets a search's text through: the text folded, and the chunks that may hold it (bit
    // c % 64 of word c / 64 for chunk c), from one word of each group per longest sequence of
    // the text.
    struct Sieve {
        QByteArray needle;
        std::vector<uint64_t> chunks;
        size_t chunkCount = 0; // of the chunks that may hold it
        uint64_t triples = 0;  // the bits of its sequences of three bytes
        // Whether the places found hold the text by the rule of a match, with no need to ask it:
        // the text has no zero byte.
        bool exact = false;
    };
    Sieve sieve(QStringView text) const;

    // How many accounts hold the sieve's text, when that is known without reading: for a text
    // of one to three bytes folded.
    std::optional<uint32_t> holders(const Sieve &sieve) const;

    // Calls `take` with each place whose texts hold the sieve's folded text, in place order,
    // until it says to stop: the chunks whose texts were read.
    size_t eachCandidate(const Sieve &sieve, const std::function<bool(uint32_t)> &take) const;
    // Which of `places` (at most 64) have texts that hold the sieve's folded text: bit i for
    // places[i]. Their chunks and texts are fetched together, so that the cache misses of a row
    // after row read down the ranking overlap.
    uint64_t holding(const Sieve &sieve, const uint32_t *places, size_t count) const;

    // The text case folded as a search folds it, in UTF-8.
    static QByteArray folded(QStringView text);

    static constexpr uint32_t kNoRow = UINT32_MAX;

private:
    // Sequences told apart. A chunk holds a few hundred sequences of three bytes, which set
    // some 5 % of 8,192 words; its fewer pairs set about as few of 4,096; single bytes are told
    // apart whole. So a sequence of a search's text passes few of the chunks that lack it, for some
    // 100 KB a group (50 MB at a million accounts).
    static constexpr uint32_t kTriplesLog2 = 13;
    static constexpr uint32_t kPairsLog2 = 12;
    static constexpr uint32_t kPairsAt = uint32_t{1} << kTriplesLog2;
    static constexpr uint32_t kBytesAt = kPairsAt + (uint32_t{1} << kPairsLog2);
    static constexpr uint32_t kWords = kBytesAt + 256;
    static constexpr uint32_t kGroupChunks = 64; // one bit of a word each
    struct PlaceTexts {
        uint32_t end;        // where the place's texts end in its chunk's text
        uint32_t triples[2]; // a bit of 64 for each of their sequences of three bytes
    };
    struct Chunk {
        QByteArray text; // each place's texts, folded, each ended by a zero byte
        std::vector<PlaceTexts> places;
    };
    struct Group {
        std::array<uint64_t, kWords> chunksHolding{}; // per sequence, its chunks in this group
    };
    // The word of a sequence's key (see SequenceCounts::eachKeyAt), and its bit among a place's
    // triples (none for a shorter one).
    static uint32_t wordOf(uint32_t key);
    static uint64_t tripleBitOf(uint32_t key);
    // Whether a place's texts may hold the sieve's text, by its triples.
    static bool mayHold(const Sieve &sieve, const PlaceTexts &place) {
        const uint64_t triples = uint64_t{place.triples[1]} << 32 | place.triples[0];
        return (triples & sieve.triples) == sieve.triples;
    }
    static std::shared_ptr<const Chunk> chunkOf(uint32_t first, const AccountRecords &records,
                                                const AccountCharacters &characters,
                                                const std::vector<uint32_t> &rowOfPlace);
    std::shared_ptr<const Group> groupOf(size_t group) const;
    // Counts (sign 1) or uncounts (-1) the places of a chunk.
    static void count(SequenceCounts &counts, const Chunk &chunk, int sign);

    std::vector<std::shared_ptr<const Chunk>> chunks_;
    std::vector<std::shared_ptr<const Group>> groups_;
    std::shared_ptr<const SequenceCounts> counts_;
};

// Each place's row in `records` (kNoRow for places without one), over `places` places at least.
std::vector<uint32_t> rowsOfPlaces(const AccountRecords &records, size_t places);

} // namespace orvantis
