#pragma once

#include "console/rankcommandline.h"
#include "scan/live/liveranking.h"

#include <QString>
#include <QStringList>

namespace orvantis {

// Where orvantis-rank's ranking goes, and what is said of it, once or after every change.
class RankPublisher {
public:
    explicit RankPublisher(RankRequest request) : request_(std::move(request)) {}

    // Prints the ranking, or writes it to the output file when it was made from every account
    // file; says on standard error what it left out or why the file was kept. Following changes,
    // the same words are not said again and again. Gives the status a run that ended here would
    // end with (see rankVerdict; 74 when it could not be written).
    int publish(const LiveRanking &ranking);

private:
    // Why the ranking could not be written, or the empty text.
    QString write(const LiveRanking &ranking, bool toFile) const;

    RankRequest request_;
    QStringList lastSaid_;
};

} // namespace orvantis
