#pragma once

#include "scan/accounts/owntext.h"

#include <QString>
#include <QStringView>

#include <cstdint>
#include <memory>
#include <vector>

namespace orvantis {

// One account a scan made a row for: its login and its best character's name (in a block of
// text), that character's level as a number, its slot, and where its file is in the scan's
// listing. 20 bytes and the two texts, where a row of text cells costs many times that.
struct AccountRecord {
    uint32_t place;     // the account file's place in the listing
    int32_t level;      // the highest level; 0 when the top level is shared
    uint32_t textStart; // the login, then the name, in the block's text
    uint16_t block;
    uint8_t loginLength; // values are at most 254 characters long
    uint8_t nameLength;
    uint8_t slot; // 1, 2 or 3; 0 for "X", when the top level is shared
};

// The ranking's order: highest level first; of the same level, in name order, which
// `nameBefore(placeA, placeB)` tells of the records' account files.
template <typename NameBefore>
bool ranksBefore(const AccountRecord &a, const AccountRecord &b, NameBefore &&nameBefore) {
    return a.level != b.level ? a.level > b.level : nameBefore(a.place, b.place);
}

// The accounts of a scan, one record each, in the order they are given. Records made after the
// scan (as its folder changes) keep their texts in a block of their own.
class AccountRecords {
public:
    // The block of the texts of records made here, not by a scan's threads.
    static constexpr uint16_t kOwnBlock = UINT16_MAX;

    // None yet; add() gives it its own block.
    AccountRecords();
    // These records, whose texts are in `blocks`.
    AccountRecords(std::vector<AccountRecord> records, std::shared_ptr<const TextBlocks> blocks);

    // Room for `count` records whose logins and names are `textLength` characters in all.
    void reserve(size_t count, size_t textLength);
    // Adds an account at the end; `login` and `name` are each at most 254 characters.
    void add(uint32_t place, int32_t level, uint8_t slot, QStringView login, QStringView name);

    // A record whose login and name (each at most 254 characters) are kept in the own block;
    // for insert() or replace().
    AccountRecord make(uint32_t place, int32_t level, uint8_t slot, QStringView login,
                       QStringView name);
    void insert(size_t at, const AccountRecord &record);
    void erase(size_t at);
    void replace(size_t at, const AccountRecord &record);
    // Moves the record at `from` so that it is at `to`, the records between moving up or down.
    void move(size_t from, size_t to);
    // Every record, to be put in another order or made fewer at once: the records made to go
    // with them come from make().
    std::vector<AccountRecord> takeAll() { return std::move(records_); }
    void setAll(std::vector<AccountRecord> records);

    size_t size() const { return records_.size(); }
    // How long the own block's text is: it stays near what records still point to.
    qsizetype ownTextLength() const { return own_.size(); }
    const AccountRecord &operator[](size_t i) const { return records_[i]; }
    QStringView login(size_t i) const;
    QStringView name(size_t i) const;

private:
    const QString &textOf(const AccountRecord &record) const;
    void release(const AccountRecord &record);
    void compactOwnText();

    std::vector<AccountRecord> records_;
    std::shared_ptr<const TextBlocks> blocks_;
    OwnText own_; // the texts of records made here
};

} // namespace orvantis
