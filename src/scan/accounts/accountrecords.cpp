#include "scan/accounts/accountrecords.h"

#include <algorithm>
#include <cstdint>

namespace orvantis {

AccountRecords::AccountRecords() = default;

AccountRecords::AccountRecords(std::vector<AccountRecord> records,
                               std::shared_ptr<const TextBlocks> blocks)
    : records_(std::move(records)), blocks_(std::move(blocks)) {}

void AccountRecords::reserve(size_t count, size_t textLength) {
    records_.reserve(count);
    own_.reserve(static_cast<qsizetype>(std::min<size_t>(textLength, UINT32_MAX)));
}

void AccountRecords::add(uint32_t place, int32_t level, uint8_t slot, QStringView login,
                         QStringView name) {
    records_.push_back(make(place, level, slot, login, name));
}

AccountRecord AccountRecords::make(uint32_t place, int32_t level, uint8_t slot, QStringView login,
                                   QStringView name) {
    login = login.left(255);
    name = name.left(255);
    const uint32_t start = own_.add(login);
    own_.add(name);
    return {place,
            level,
            start,
            kOwnBlock,
            static_cast<uint8_t>(login.size()),
            static_cast<uint8_t>(name.size()),
            slot};
}

void AccountRecords::insert(size_t at, const AccountRecord &record) {
    records_.insert(records_.begin() + static_cast<ptrdiff_t>(at), record);
}

void AccountRecords::erase(size_t at) {
    release(records_[at]);
    records_.erase(records_.begin() + static_cast<ptrdiff_t>(at));
    compactOwnText();
}

void AccountRecords::replace(size_t at, const AccountRecord &record) {
    release(records_[at]);
    records_[at] = record;
    compactOwnText();
}

void AccountRecords::move(size_t from, size_t to) {
    const auto begin = records_.begin();
    if (from < to)
        std::rotate(begin + static_cast<ptrdiff_t>(from), begin + static_cast<ptrdiff_t>(from) + 1,
                    begin + static_cast<ptrdiff_t>(to) + 1);
    else if (to < from)
        std::rotate(begin + static_cast<ptrdiff_t>(to), begin + static_cast<ptrdiff_t>(from),
                    begin + static_cast<ptrdiff_t>(from) + 1);
}

void AccountRecords::setAll(std::vector<AccountRecord> records) {
    records_ = std::move(records);
    qsizetype inUse = 0;
    for (const AccountRecord &record : records_)
        if (record.block == kOwnBlock)
            inUse += qsizetype{record.loginLength} + record.nameLength;
    own_.setInUse(inUse);
    compactOwnText();
}

void AccountRecords::release(const AccountRecord &record) {
    if (record.block == kOwnBlock)
        own_.release(qsizetype{record.loginLength} + record.nameLength);
}

void AccountRecords::compactOwnText() {
    own_.compactIfMostlyGone([this](auto &&keep) {
        for (AccountRecord &record : records_)
            if (record.block == kOwnBlock)
                keep(record.textStart, qsizetype{record.loginLength} + record.nameLength);
    });
}

const QString &AccountRecords::textOf(const AccountRecord &record) const {
    return record.block == kOwnBlock || !blocks_ ? own_.text() : (*blocks_)[record.block];
}

QStringView AccountRecords::login(size_t i) const {
    const AccountRecord &r = records_[i];
    return QStringView(textOf(r)).mid(r.textStart, r.loginLength);
}

QStringView AccountRecords::name(size_t i) const {
    const AccountRecord &r = records_[i];
    return QStringView(textOf(r)).mid(qsizetype{r.textStart} + r.loginLength, r.nameLength);
}

} // namespace orvantis
