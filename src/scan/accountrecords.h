#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>
#include <vector>

namespace orvantis {

// One account a scan made a row for: its login and its best character's name (in the records'
// shared text), that character's level as a number, its slot, and where its file is in the
// scan's listing. About 20 bytes and the two texts, where a row of text cells costs many times
// that.
struct AccountRecord {
    uint32_t place;     // the account file's place in the listing
    int32_t level;      // the highest level; 0 when the top level is shared
    uint32_t textStart; // the login, then the name, in AccountRecords' text
    uint16_t loginLength;
    uint16_t nameLength;
    uint8_t slot; // 1, 2 or 3; 0 for "X", when the top level is shared
};

// The accounts of a scan, one record each, in the order they were added until rank() puts them
// highest level first.
class AccountRecords {
public:
    // Room for `count` records whose logins and names are `textLength` characters in all.
    void reserve(size_t count, size_t textLength);
    // Adds an account; `login` and `name` are each at most the longest value the reader gives.
    void add(uint32_t place, int32_t level, uint8_t slot, QStringView login, QStringView name);
    // Highest level first; records with the same level keep their order, so that the ranking is
    // that of a stable sort of the rows in the order they were made.
    void rank();

    size_t size() const { return records_.size(); }
    const AccountRecord &operator[](size_t i) const { return records_[i]; }
    QStringView login(size_t i) const;
    QStringView name(size_t i) const;
    // The slot as the list shows it: "1", "2", "3" or "X".
    static QString slotText(uint8_t slot);
    // The level as the list shows it: ASCII digits and a minus sign, and nothing for 0.
    static QString levelText(int32_t level);

private:
    std::vector<AccountRecord> records_;
    QString text_;
};

} // namespace orvantis
