#pragma once

#include "formats/rankingtext.h"
#include "scan/accounts/accountcharacters.h"
#include "scan/accounts/accountrecords.h"

#include <QByteArray>

#include <vector>

namespace orvantis {

// The first `top` records (all of them when `top` is negative), in the formats of
// rankingText, with the levels that tied accounts' characters share from `characters` (none
// without them). With `chosen`, only the records at those rows, in that order, each with its
// rank when `withRanks`.
QByteArray rankingText(const AccountRecords &records, const AccountCharacters *characters,
                       RankingFormat format = RankingFormat::Tsv, int top = -1,
                       CellText cellText = CellText::AsIs,
                       const std::vector<size_t> *chosen = nullptr, bool withRanks = false);

} // namespace orvantis
