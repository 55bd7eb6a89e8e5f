#include "scan/getscores.h"

#include "platform/decimaltext.h"
#include "scan/accounts/accountcells.h"

#include <algorithm>

namespace orvantis {

QString levelTextWithRoom(int32_t level) {
    constexpr int kRoom = 12; // a sign, ten digits and the closing mark of a negative level
    char16_t digits[kDecimalRoom];
    const int length = writeDecimal(level, digits);
    QString text(kRoom, Qt::Uninitialized);
    std::copy(digits, digits + length, reinterpret_cast<char16_t *>(text.data()));
    text.resize(length); // keeps the room
    return text;
}

ScanReport GetScores(const QString &programFolder, ReportList &lvLevels,
                     const SortEnvironment &environment, const ScanSettings &settings) {
    ScanParts parts = scanFolder(programFolder, settings);
    if (!parts.report.whole())
        return std::move(parts.report);
    const std::vector<uint32_t> &rank = parts.nameRank;
    std::sort(parts.records.begin(), parts.records.end(),
              [&rank](const AccountRecord &a, const AccountRecord &b) {
                  return rank[a.place] < rank[b.place];
              });
    const AccountRecords records(std::move(parts.records), std::move(parts.texts));
    lvLevels.reserve(lvLevels.listItems().Count() + static_cast<int>(records.size()));
    int rowCounter = 1;
    for (size_t r = 0; r < records.size(); ++r) {
        const ListItem row = lvLevels.listItems().Add(rowCounter, records.login(r).toString());
        row.SetSubItems(1, levelTextWithRoom(records[r].level));
        row.SetSubItems(2, slotText(records[r].slot));
        row.SetSubItems(3, records.name(r).toString());
        lvLevels.setRowTag(rowCounter - 1, records[r].place);
        ++rowCounter;
    }
    SortListColumn(lvLevels, 2, SortNumber, SortDescending, environment);
    return std::move(parts.report);
}

} // namespace orvantis
