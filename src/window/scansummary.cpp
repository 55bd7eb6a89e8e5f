#include "window/scansummary.h"

#include "platform/visibletext.h"

#include <algorithm>

namespace orvantis {

namespace {

// "1 account file", "2 account files": a count in ASCII digits and a noun in its number.
QString counted(size_t count, const QString &one, const QString &many) {
    return QString::number(count) + u' ' + (count == 1 ? one : many);
}

QString shown(const QString &path) {
    return withControlsEscaped(path).toHtmlEscaped();
}

QString whyEmpty(const ScanReport &report) {
    switch (report.accounts) {
    case FolderState::NotAFolder:
        return QStringLiteral("No accounts: %1 is not a folder").arg(shown(report.accountsPath));
    case FolderState::LinkToNowhere:
        return QStringLiteral("No accounts: %1 is a link to %2, which leads nowhere")
            .arg(shown(report.accountsPath), shown(report.accountsLinkTarget));
    case FolderState::Missing:
        return QStringLiteral("No accounts: %1 no longer exists").arg(shown(report.accountsPath));
    case FolderState::Listed:
        break;
    }
    return QStringLiteral("No account files in %1").arg(shown(report.accountsPath));
}

int axisInside(int start, int length, int areaStart, int areaLength) {
    if (length > areaLength)
        return areaStart;
    return std::clamp(start, areaStart, areaStart + areaLength - length);
}

} // namespace

QString scanSummaryText(const ScanReport &report, int accountsListed, QTime readAt) {
    const QString time = readAt.toString(QStringLiteral("HH:mm:ss")); // ASCII digits always
    if (report.accounts != FolderState::Listed || report.accountFiles == 0)
        return QStringLiteral("%1 (read at %2)").arg(whyEmpty(report), time);
    QString text = QStringLiteral("%1 from %2, read at %3")
                       .arg(counted(static_cast<size_t>(accountsListed), QStringLiteral("account"),
                                    QStringLiteral("accounts")),
                            counted(report.filesRead(), QStringLiteral("account file"),
                                    QStringLiteral("account files")),
                            time);
    if (!report.skipped.empty())
        text += QStringLiteral("; <a href=\"details\">%1 left out</a>")
                    .arg(counted(report.skipped.size(), QStringLiteral("file"),
                                 QStringLiteral("files")));
    return text;
}

QString scanFailedText(const QString &reason) {
    return QStringLiteral("The accounts folder could not be read: %1")
        .arg(withControlsEscaped(reason).toHtmlEscaped());
}

LeftOutReport leftOutReport(const ScanReport &report) {
    if (report.skipped.empty())
        return {};
    const size_t unreadable = report.unreadableFiles();
    const size_t outOfRange = report.skipped.size() - unreadable;
    QStringList why;
    if (unreadable > 0)
        why << QStringLiteral("%1 could not be read").arg(unreadable);
    if (outOfRange > 0)
        why << QStringLiteral("%1 %2 a level out of range")
                   .arg(outOfRange)
                   .arg(outOfRange == 1 ? QStringLiteral("has") : QStringLiteral("have"));
    LeftOutReport left;
    left.text = QStringLiteral("%1 left out of the ranking: %2.\n\nShow Details lists each file "
                               "and why.")
                    .arg(counted(report.skipped.size(), QStringLiteral("account file was"),
                                 QStringLiteral("account files were")),
                         why.join(QStringLiteral(", ")));
    for (const SkippedFile &file : report.skipped)
        left.details += withControlsEscaped(file.name) + QStringLiteral(": ") + file.reason + u'\n';
    return left;
}

QPoint placedInside(const QRect &frame, const QRect &available) {
    return {axisInside(frame.left(), frame.width(), available.left(), available.width()),
            axisInside(frame.top(), frame.height(), available.top(), available.height())};
}

} // namespace orvantis
