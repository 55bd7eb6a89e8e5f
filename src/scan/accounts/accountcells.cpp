#include "scan/accounts/accountcells.h"

#include "platform/decimaltext.h"

namespace orvantis {

QStringList reportColumnTitles() {
    return {QStringLiteral("Username"), QStringLiteral("Highest Level"), QStringLiteral("Char No."),
            QStringLiteral("Char Name")};
}

QString levelText(int32_t level) {
    if (level == 0)
        return QString();
    char16_t digits[kDecimalRoom];
    const int length = writeDecimal(level, digits);
    return QString(reinterpret_cast<const QChar *>(digits), length);
}

QString slotText(uint8_t slot) {
    static const QString texts[] = {QStringLiteral("X"), QStringLiteral("1"), QStringLiteral("2"),
                                    QStringLiteral("3")};
    return texts[slot < 4 ? slot : 0];
}

QStringView recordCell(const AccountRecords &records, size_t row, int column, QString &scratch) {
    switch (column) {
    case kLoginColumn:
        return records.login(row);
    case kLevelColumn:
        return scratch = levelText(records[row].level);
    case kSlotColumn:
        return scratch = slotText(records[row].slot);
    default:
        return records.name(row);
    }
}

} // namespace orvantis
