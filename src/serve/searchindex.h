#pragma once

#include "scan/accounts/accountcharacters.h"
#include "scan/accounts/accountrecords.h"
#include "serve/touchedplaces.h"

#include <QByteArray>
#include <QStringView>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace orvantis {

// Where a search of a million accounts looks: every account's login and character names, case
// folded, in chunks of consecutive places (account files), each with a bitmap of the three-byte
// sequences it holds, so that a search reads only the chunks that can hold its text. A chunk is
// shared by every index made from it and made again only when one of its places is touched: a
// change of a few files costs a few chunks, not a million accounts.
//
// It finds candidates: every account holding the text is among them, and accountHolds, the rule
// of a match, decides (case folding is that rule's, code point by code point).
class SearchIndex {
public:
    static constexpr uint32_t kChunkPlaces = 256;

    // This index, its touched chunks made again from the records and characters (`rowOfPlace`
    // gives each place's row, or kNoRow).
    SearchIndex updated(const AccountRecords &records, const AccountCharacters &characters,
                        const std::vector<uint32_t> &rowOfPlace,
                        const TouchedPlaces &touched) const;

    // The places whose texts may hold `text`, in place order.
    std::vector<uint32_t> candidates(QStringView text) const;

    // The text case folded as a search folds it, in UTF-8.
    static QByteArray folded(QStringView text);

    static constexpr uint32_t kNoRow = UINT32_MAX;

private:
    static constexpr uint32_t kBits = 16384; // per chunk: about a fifth set for 256 accounts
    struct Chunk {
        QByteArray text;            // each place's texts, folded, each ended by a zero byte
        std::vector<uint32_t> ends; // where each place's texts end in `text`
        std::array<uint64_t, kBits / 64> sequences{};
    };
    static std::shared_ptr<const Chunk> chunkOf(uint32_t first, const AccountRecords &records,
                                                const AccountCharacters &characters,
                                                const std::vector<uint32_t> &rowOfPlace);

    std::vector<std::shared_ptr<const Chunk>> chunks_;
};

// Each place's row in `records` (kNoRow for places without one), over `places` places at least.
std::vector<uint32_t> rowsOfPlaces(const AccountRecords &records, size_t places);

} // namespace orvantis
