#pragma once

#include "listsort/sortlistcolumn.h"
#include "reportlist/reportlist.h"

#include <QString>

#include <cstdint>
#include <vector>

namespace orvantis {

// Whether a file name is an account file's: its last three characters, letter case ignored,
// are "ini" (no dot needed).
bool isAccountFileName(const QString &name);

// Which character slot holds the highest level: "1", "2" or "3" for a slot above both others,
// with that level; "X" and 0 when the top level is shared.
struct HighestLevel {
    QString slot;
    int32_t level;
};
HighestLevel findHighestLevel(int32_t level1, int32_t level2, int32_t level3);

// A level as decimal text, made with room for the sortable form the closing sort gives it, so
// that the sort rewrites it in place.
QString levelText(int32_t level);

// An account file the scan left out, and why.
struct SkippedFile {
    QString name;
    QString reason;
};

struct ScanReport {
    std::vector<SkippedFile> skipped;
};

// Reads every account file in the "accounts" folder of the program folder and adds, for each
// account with a login, a row to the empty list: login, highest level, slot, character name.
// Then sorts the list by level, highest first. A file whose levels do not fit 32 bits is left
// out and named in the report; the scan goes on with the other files.
ScanReport GetScores(const QString &programFolder, ReportList &lvLevels,
                     const SortEnvironment &environment);

} // namespace orvantis
