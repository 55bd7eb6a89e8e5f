#include "scan/accounts/accountsearch.h"

namespace orvantis {

bool accountHolds(const AccountRecords &records, const AccountCharacters *characters, size_t row,
                  QStringView text) {
    if (records.login(row).contains(text, Qt::CaseInsensitive) ||
        records.name(row).contains(text, Qt::CaseInsensitive))
        return true;
    if (!characters)
        return false;
    for (int slot = 1; slot <= AccountCharacters::kSlots; ++slot)
        if (characters->name(records[row].place, slot).contains(text, Qt::CaseInsensitive))
            return true;
    return false;
}

} // namespace orvantis
