#include "console/rankpublisher.h"

#include "console/complaint.h"
#include "console/rankstatus.h"
#include "formats/accountranking.h"
#include "platform/exitstatus.h"
#include "platform/failure.h"
#include "platform/writeall.h"

#include <unistd.h>

namespace orvantis {

int RankPublisher::publish(const LiveRanking &ranking) {
    RankVerdict verdict = rankVerdict(ranking.report());
    if (verdict.status != kExitAccountsNotAFolder) {
        const bool toFile = !request_.output.isEmpty();
        if (!toFile || verdict.status == kExitSuccess) {
            const QString failure = write(ranking, toFile);
            if (!failure.isEmpty()) {
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
            complain("orvantis-rank", line);
    lastSaid_ = verdict.lines;
    return verdict.status;
}

QString RankPublisher::write(const LiveRanking &ranking, bool toFile) const {
    const CellText cellText =
        !toFile && ::isatty(STDOUT_FILENO) == 1 ? CellText::ControlsEscaped : CellText::AsIs;
    const QByteArray text = rankingText(ranking.records(), &ranking.characters(), request_.format,
                                        request_.top, cellText);
    if (toFile) {
        const QString failure = replaceFile(request_.output, text);
        return failure.isEmpty()
                   ? QString()
                   : QStringLiteral("cannot write %1: %2").arg(request_.output, failure);
    }
    // Straight to the descriptor, which waits where a parent left it non-blocking, as stdio
    // would not.
    const int error = writeAll(STDOUT_FILENO, text.constData(), static_cast<size_t>(text.size()));
    return error == 0 ? QString()
                      : QStringLiteral("cannot write the ranking: %1").arg(systemErrorText(error));
}

} // namespace orvantis
