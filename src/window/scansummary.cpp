#include "window/scansummary.h"

#include "platform/visibletext.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace orvantis {

namespace {

// A count in ASCII digits, grouped by thousands as the window's English texts have it: "2,000".
QString grouped(size_t count) {
    static const QLocale english(QLocale::English, QLocale::UnitedStates);
    return english.toString(static_cast<qulonglong>(count));
}

// "1 account file", "2,000 account files": a count and a noun in its number.
QString counted(size_t count, const QString &one, const QString &many) {
    return grouped(count) + u' ' + (count == 1 ? one : many);
}

QString shown(const QString &path) {
    return withControlsEscaped(path).toHtmlEscaped();
}

// Why the list is empty, in the words the other programs say it in, begun in upper case.
QString whyEmpty(const ScanReport &report) {
    if (report.accounts != FolderState::Listed)
        return QStringLiteral("No accounts: ") + shown(whyNotListed(report));
    QString why = shown(whyNoAccountFiles(report));
    why[0] = why[0].toUpper();
    return why;
}

// One axis of placedInside, worked out in device pixels: the frame as long as it can come to be
// there, the area as far as its whole device pixels reach. A logical place p starts at device
// pixel p * scale, which is rounded; a place whose product is whole or lies inside the bounds
// never rounds past them.
int axisInside(int start, int length, int areaStart, int areaLength, qreal scale) {
    const auto deviceLength = static_cast<qint64>(std::ceil(length * scale - 1e-9));
    const auto deviceStart = static_cast<qint64>(std::ceil(areaStart * scale - 1e-9));
    const auto deviceEnd = static_cast<qint64>(std::floor((areaStart + areaLength) * scale + 1e-9));
    const auto lowest = static_cast<int>(std::ceil(deviceStart / scale - 1e-9));
    const auto highest = static_cast<int>(std::floor((deviceEnd - deviceLength) / scale + 1e-9));
    if (length > areaLength || lowest > highest)
        return areaStart;
    return std::clamp(start, lowest, highest);
}

} // namespace

QString followingText(const Following &following, SummaryForm form) {
    if (!following.on)
        return QString();
    if (following.problem)
        return form == SummaryForm::Whole ? QStringLiteral("; not following changes: %1")
                                                .arg(shown(following.problem->text))
                                          : QStringLiteral("; not following changes");
    if (form == SummaryForm::Short)
        return following.gaps.empty() ? QStringLiteral("; following changes")
                                      : QStringLiteral("; following changes in part");
    QString text = following.lastChange.isValid()
                       ? QStringLiteral("; following changes, the last at %1")
                             .arg(following.lastChange.time().toString(QStringLiteral("HH:mm:ss")))
                       : QStringLiteral("; following changes since %1")
                             .arg(following.since.time().toString(QStringLiteral("HH:mm:ss")));
    for (const ScanFailure &gap : following.gaps)
        text += QStringLiteral("; ") + shown(gap.text);
    return text;
}

QString scanSummaryText(const ScanReport &report, int accountsListed, QTime readAt,
                        SummaryForm form, const Following &following) {
    return scanSummaryText(report, accountsListed, readAt, form) + followingText(following, form);
}

QString scanSummaryText(const ScanReport &report, int accountsListed, QTime readAt,
                        SummaryForm form) {
    const QString time = readAt.toString(QStringLiteral("HH:mm:ss")); // ASCII digits always
    if (report.accounts != FolderState::Listed || report.accountFiles == 0)
        return QStringLiteral("%1 (read at %2)").arg(whyEmpty(report), time);
    // The counts add up: every account file listed gives a row, holds no login, or is left out.
    const bool whole = form == SummaryForm::Whole;
    QString text =
        QStringLiteral("%1 from %2")
            .arg(counted(static_cast<size_t>(accountsListed), QStringLiteral("account"),
                         QStringLiteral("accounts")),
                 counted(report.accountFiles,
                         whole ? QStringLiteral("account file") : QStringLiteral("file"),
                         whole ? QStringLiteral("account files") : QStringLiteral("files")));
    if (whole)
        text += QStringLiteral(", read at ") + time;
    if (report.withoutLogin > 0)
        text += QStringLiteral("; %1 without a login").arg(grouped(report.withoutLogin));
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
        why << QStringLiteral("%1 could not be read").arg(grouped(unreadable));
    if (outOfRange > 0)
        why << QStringLiteral("%1 %2 a level out of range")
                   .arg(grouped(outOfRange))
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

QPoint placedInside(const QRect &frame, const QRect &available, qreal scale) {
    return {axisInside(frame.left(), frame.width(), available.left(), available.width(), scale),
            axisInside(frame.top(), frame.height(), available.top(), available.height(), scale)};
}

} // namespace orvantis
