#pragma once

#include "formats/rankingtext.h"
#include "scan/accounts/accountcharacters.h"
#include "scan/accounts/accountrecords.h"

#include <QByteArray>

#include <vector>

namespace orvantis {

// How each account has moved, by its record's place and its rank now.
class Movements {
public:
    virtual ~Movements() = default;
    virtual RowMovement of(uint32_t place, int64_t rank) const = 0;
};

// The first `top` records (all of them when `top` is negative), in the formats of
// rankingText, with the levels that tied accounts' characters share from `characters` (none
// without them). With `chosen`, only the records at those rows, in that order, each with its
// rank when `withRanks`, and how it moved with `movements`.
QByteArray rankingText(const AccountRecords &records, const AccountCharacters *characters,
                       RankingFormat format = RankingFormat::Tsv, int top = -1,
                       CellText cellText = CellText::AsIs,
                       const std::vector<size_t> *chosen = nullptr, bool withRanks = false,
                       const Movements *movements = nullptr);

} // namespace orvantis
