#pragma once

#include <QStringList>

namespace orvantis {

// The columns of the levels list, left to right, counted from 0.
enum ReportColumn : int { kLoginColumn = 0, kLevelColumn = 1, kSlotColumn = 2, kNameColumn = 3 };
constexpr int kReportColumns = 4;

// Their titles.
inline QStringList reportColumnTitles() {
    return {QStringLiteral("Username"), QStringLiteral("Highest Level"), QStringLiteral("Char No."),
            QStringLiteral("Char Name")};
}

} // namespace orvantis
