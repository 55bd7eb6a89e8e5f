#include "console/rankstatus.h"

#include "platform/exitstatus.h"

namespace orvantis {

RankVerdict rankVerdict(const ScanReport &report) {
    RankVerdict verdict;
    if (report.accounts != FolderState::Listed) {
        verdict.status = kExitAccountsNotAFolder;
        verdict.closing = whyNotListed(report);
        return verdict;
    }
    for (const SkippedFile &file : report.skipped)
        verdict.lines << QStringLiteral("skipped %1: %2").arg(file.name, file.reason);
    if (!report.skipped.empty()) {
        const size_t unreadable = report.unreadableFiles();
        verdict.status = kExitFilesLeftOut;
        verdict.closing =
            QStringLiteral("%1 of %2 account files %3: the ranking lacks their accounts")
                .arg(report.skipped.size())
                .arg(report.accountFiles)
                .arg(unreadable == report.skipped.size() ? QStringLiteral("could not be read")
                                                         : QStringLiteral("were left out"));
        return verdict;
    }
    verdict.closing = whyNoAccountFiles(report);
    if (!verdict.closing.isEmpty())
        verdict.status = kExitNoAccountFiles;
    return verdict;
}

} // namespace orvantis
