#pragma once

#include "console/rankcommandline.h"
#include "scan/live/liveranking.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>

namespace orvantis {

// Where orvantis-rank's ranking goes, and what is said of it, once or after every change.
class RankPublisher : public QObject {
public:
    explicit RankPublisher(RankRequest request);

    // Prints the ranking, or writes it to the output file when it was made from every account
    // file; says on standard error what it left out or why the file was kept. Following changes,
    // the same words are not said again and again. Gives the status a run that ended here would
    // end with (see rankVerdict; 74 when it could not be written).
    int publish(std::shared_ptr<const LiveRanking> ranking);

    // Following changes, an output file that could not be written is written again with a
    // growing pause, from the first to the last, until it is: a full disk or a folder gone need
    // not wait for the next change of the accounts, which may be hours away.
    static constexpr int kFirstRetryMs = 1000, kLastRetryMs = 5000;

private:
    // Why the ranking could not be written, or the empty text.
    QString write(const LiveRanking &ranking, bool toFile);
    void retrySoon();

    RankRequest request_;
    QStringList lastSaid_;
    std::shared_ptr<const LiveRanking> ranking_; // the last one published
    bool writeFailed_ = false;
    bool ownerSaid_ = false;
    QTimer retry_;
    int retryMs_ = kFirstRetryMs;
};

} // namespace orvantis
