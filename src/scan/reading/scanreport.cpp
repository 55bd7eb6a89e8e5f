#include "scan/reading/scanreport.h"

#include "platform/failure.h"

#include <algorithm>

namespace orvantis {

SkippedFile skippedFile(const QString &name, FileOutcome outcome, int error) {
    if (outcome == FileOutcome::Unreadable)
        return {name, QStringLiteral("could not be read: ") + systemErrorText(error), true};
    return {name, QStringLiteral("a character level is outside -2147483648 to 2147483647")};
}

QString ScanReport::accountFileOf(uint32_t rowTag) const {
    return listing && rowTag < listing->size() ? listing->folder() + listing->name(rowTag)
                                               : QString();
}

size_t ScanReport::unreadableFiles() const {
    return static_cast<size_t>(std::count_if(skipped.begin(), skipped.end(),
                                             [](const SkippedFile &f) { return f.unreadable; }));
}

QString whyNotListed(const ScanReport &report) {
    switch (report.accounts) {
    case FolderState::Listed:
        return QString();
    case FolderState::LinkToNowhere:
        return QStringLiteral("%1 is a link to %2, which leads nowhere")
            .arg(report.accountsPath, report.accountsLinkTarget);
    case FolderState::Missing:
        return QStringLiteral("%1 no longer exists").arg(report.accountsPath);
    case FolderState::NotAFolder:
        break;
    }
    return QStringLiteral("%1 is not a folder").arg(report.accountsPath);
}

QString whyNoAccountFiles(const ScanReport &report) {
    if (report.accounts != FolderState::Listed || report.accountFiles > 0)
        return QString();
    return QStringLiteral("no account files in %1").arg(report.accountsPath);
}

} // namespace orvantis
