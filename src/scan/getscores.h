#pragma once

#include "listsort/sortlistcolumn.h"
#include "reportlist/reportlist.h"
#include "scan/reading/scanaccounts.h"

#include <QString>

#include <cstdint>

namespace orvantis {

// A level as decimal text, made with room for the sortable form the closing sort gives it, so
// that the sort rewrites it in place.
QString levelTextWithRoom(int32_t level);

// Reads every account file in the "accounts" folder of the program folder (see scanFolder) and
// adds, for each account with a login, a row to the empty list: login, highest level, slot,
// character name, in the name order of their files, as reading one file after another would.
// Then sorts the list by level, highest first. The report says what was read and left out; when
// it says the scan failed or was stopped, the list is as it was. Call it on one thread at a
// time per list.
ScanReport GetScores(const QString &programFolder, ReportList &lvLevels,
                     const SortEnvironment &environment, const ScanSettings &settings = {});

} // namespace orvantis
