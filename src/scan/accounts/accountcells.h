#pragma once

#include "scan/accounts/accountrecords.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>

namespace orvantis {

// The columns of the levels list, left to right, counted from 0.
enum ReportColumn : int { kLoginColumn = 0, kLevelColumn = 1, kSlotColumn = 2, kNameColumn = 3 };
constexpr int kReportColumns = 4;

// Their titles.
QStringList reportColumnTitles();

// The level as the list shows it: ASCII digits and a minus sign, and nothing for 0.
QString levelText(int32_t level);
// The slot as the list shows it: "1", "2", "3", or "X" for 0, when the top level is shared.
QString slotText(uint8_t slot);

// The text of a record's cell, as every view and format shows it: the login and the name as
// they are, the level and the slot as above. `scratch` holds a text made for the asking.
QStringView recordCell(const AccountRecords &records, size_t row, int column, QString &scratch);

} // namespace orvantis
