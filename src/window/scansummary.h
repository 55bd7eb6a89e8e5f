#pragma once

#include "scan/live/folderfollower.h"
#include "scan/reading/scanreport.h"

#include <QRect>
#include <QString>
#include <QTime>

namespace orvantis {

// The line the window shows after a scan: how many accounts it lists from how many account
// files, when they were read, how many hold no login and how many were left out; or why the list is
// empty. Rich text: the count of files left out is a link, "details", that shows the report of them
// again. Numbers are in ASCII digits, as everywhere in the window's texts.
// The short form leaves out the time and says "files" for "account files", for a strip too
// narrow for the whole line.
enum class SummaryForm { Whole, Short };
QString scanSummaryText(const ScanReport &report, int accountsListed, QTime readAt,
                        SummaryForm form = SummaryForm::Whole);

// The line with what following says after it: "; following changes since 10:15:02", "; following
// changes, the last at 10:15:07", each with what it misses, or "; not following changes: " and
// why; nothing when off.
QString scanSummaryText(const ScanReport &report, int accountsListed, QTime readAt,
                        SummaryForm form, const Following &following);

// The same line when the scan failed, with the reason.
QString scanFailedText(const QString &reason);

// The report of the files a scan left out: a short text, and the details, one file a line with
// its reason. Names are shown with control characters escaped, so that a copy of the details
// carries nothing that a terminal would take as a command. Nothing when no file was left out.
struct LeftOutReport {
    QString text;
    QString details;
};
LeftOutReport leftOutReport(const ScanReport &report);

// Where a window's frame goes so that all of it lies inside the screen's available area, when it
// fits; on an axis where it does not, its top or left edge lies at the area's, so that its title
// bar can be reached. Both are in logical pixels, `scale` device pixels to each: at a fractional
// scale the place is rounded toward the screen, so that no device pixel of the frame lies
// outside the area.
QPoint placedInside(const QRect &frame, const QRect &available, qreal scale = 1.0);

} // namespace orvantis
