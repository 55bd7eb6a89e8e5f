#pragma once

#include "formats/rankingtext.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace orvantis {

// What orvantis-rank's command line asks for.
struct RankRequest {
    QString programFolder; // the folder that holds "accounts"
    RankingFormat format = RankingFormat::Tsv;
    int top = -1;   // every row
    QString output; // standard output when empty
    bool watch = false;
};

// Its name in its messages and --version, and its --help.
extern const char kRankProgram[];
extern const char kRankUsage[];

// One line on standard error as orvantis-rank (see complain()).
void complainAsRank(const QString &message);

// Reads the command line (the program's name first) into `request`; FOLDER defaults to
// `programDirectory`. After --help or --version, which it prints, gives kExitSuccess; on bad
// usage, which it says on standard error, kExitUsage; else nothing, to go on.
std::optional<int> readRankCommandLine(const QStringList &arguments,
                                       const QString &programDirectory, RankRequest &request);

} // namespace orvantis
