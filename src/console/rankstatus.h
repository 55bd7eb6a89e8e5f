#pragma once

#include "scan/reading/scanreport.h"

#include <QString>
#include <QStringList>

namespace orvantis {

// What a ranking's report makes of a run of orvantis-rank: the status it ends with, a line for
// each account file left out, and the line that closes them, saying why the status is not 0.
struct RankVerdict {
    int status = 0;
    QStringList lines;
    QString closing;
};

// The exit-status rule, first that applies: the accounts entry is no folder (3, and no ranking
// is printed); files were left out (5); no account files (4); else 0.
RankVerdict rankVerdict(const ScanReport &report);

} // namespace orvantis
