#include "console/rankpublisher.h"

#include "console/rankstatus.h"
#include "formats/accountranking.h"
#include "platform/exitstatus.h"
#include "platform/failure.h"
#include "platform/writeall.h"
#include "start/complaint.h"

#include <unistd.h>

#include <algorithm>

namespace orvantis {

RankPublisher::RankPublisher(RankRequest request) : request_(std::move(request)) {
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, [this] {
        if (ranking_)
            publish(ranking_);
    });
}

int RankPublisher::publish(std::shared_ptr<const LiveRanking> ranking) {
    ranking_ = std::move(ranking);
    RankVerdict verdict = rankVerdict(ranking_->report());
    const bool toFile = !request_.output.isEmpty();
    bool written = false;
    if (verdict.status != kExitAccountsNotAFolder) {
        if (!toFile || verdict.status == kExitSuccess) {
            const QString failure = write(*ranking_, toFile);
            written = failure.isEmpty();
            if (!written) {
                verdict.closing = failure;
                verdict.status = kExitWriteError;
            }
        } else {
            verdict.closing += QStringLiteral("; %1 kept as it was").arg(request_.output);
        }
    }
    if (!verdict.closing.isEmpty())
        verdict.lines << verdict.closing;
    if (!request_.watch || verdict.lines != lastSaid_)
        for (const QString &line : verdict.lines)
            complainAsRank(line);
    lastSaid_ = verdict.lines;
    if (written && std::exchange(writeFailed_, false) && toFile)
        complainAsRank(QStringLiteral("%1 written again").arg(request_.output));
    if (verdict.status == kExitWriteError && request_.watch && toFile) {
        writeFailed_ = true;
        retrySoon();
    } else {
        retry_.stop();
        retryMs_ = kFirstRetryMs;
    }
    return verdict.status;
}

void RankPublisher::retrySoon() {
    if (retry_.isActive())
        return; // a change published meanwhile keeps the pause it came in
    retry_.start(retryMs_);
    retryMs_ = std::min(retryMs_ * 2, kLastRetryMs);
}

QString RankPublisher::write(const LiveRanking &ranking, bool toFile) {
    const CellText cellText =
        !toFile && ::isatty(STDOUT_FILENO) == 1 ? CellText::ControlsEscaped : CellText::AsIs;
    const QByteArray text = rankingText(ranking.records(), &ranking.characters(), request_.format,
                                        request_.top, cellText);
    if (toFile) {
        const FileReplacement replaced = replaceFile(request_.output, text);
        if (!replaced.ownerNotKept.isEmpty() && !std::exchange(ownerSaid_, true))
            complainAsRank(replaced.ownerNotKept);
        return replaced.failure.isEmpty()
                   ? QString()
                   : QStringLiteral("cannot write %1: %2").arg(request_.output, replaced.failure);
    }
    // Straight to the descriptor, which waits where a parent left it non-blocking, as stdio
    // would not.
    const int error = writeAll(STDOUT_FILENO, text.constData(), static_cast<size_t>(text.size()));
    return error == 0 ? QString()
                      : QStringLiteral("cannot write the ranking: %1").arg(systemErrorText(error));
}

} // namespace orvantis
