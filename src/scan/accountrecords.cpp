#include "scan/accountrecords.h"

#include "platform/decimaltext.h"
#include "platform/failure.h"

#include <algorithm>
#include <climits>

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
    if (own_.size() + login.size() + name.size() > qsizetype{UINT32_MAX})
        throw Failure(kOutOfMemory, QStringLiteral("Too many logins and names to keep"));
    const AccountRecord record{place,
                               level,
                               static_cast<uint32_t>(own_.size()),
                               kOwnBlock,
                               static_cast<uint8_t>(login.size()),
                               static_cast<uint8_t>(name.size()),
                               slot};
    own_ += login;
    own_ += name;
    ownInUse_ += login.size() + name.size();
    return record;
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
    ownInUse_ = 0;
    for (const AccountRecord &record : records_)
        if (record.block == kOwnBlock)
            ownInUse_ += qsizetype{record.loginLength} + record.nameLength;
    compactOwnText();
}

void AccountRecords::release(const AccountRecord &record) {
    if (record.block == kOwnBlock)
        ownInUse_ -= qsizetype{record.loginLength} + record.nameLength;
}

void AccountRecords::compactOwnText() {
    if (!ownTextIsMostlyGone(own_.size(), ownInUse_))
        return;
    QString kept;
    kept.reserve(ownInUse_);
    for (AccountRecord &record : records_) {
        if (record.block != kOwnBlock)
            continue;
        const auto start = static_cast<uint32_t>(kept.size());
        kept += QStringView(own_).mid(record.textStart,
                                      qsizetype{record.loginLength} + record.nameLength);
        record.textStart = start;
    }
    own_ = std::move(kept);
}

const QString &AccountRecords::textOf(const AccountRecord &record) const {
    return record.block == kOwnBlock || !blocks_ ? own_ : (*blocks_)[record.block];
}

QStringView AccountRecords::login(size_t i) const {
    const AccountRecord &r = records_[i];
    return QStringView(textOf(r)).mid(r.textStart, r.loginLength);
}

QStringView AccountRecords::name(size_t i) const {
    const AccountRecord &r = records_[i];
    return QStringView(textOf(r)).mid(qsizetype{r.textStart} + r.loginLength, r.nameLength);
}

QString AccountRecords::slotText(uint8_t slot) {
    static const QString texts[] = {QStringLiteral("X"), QStringLiteral("1"), QStringLiteral("2"),
                                    QStringLiteral("3")};
    return texts[slot < 4 ? slot : 0];
}

QString AccountRecords::levelText(int32_t level) {
    if (level == 0)
        return QString();
    char16_t digits[kDecimalRoom];
    const int length = writeDecimal(level, digits);
    return QString(reinterpret_cast<const QChar *>(digits), length);
}

} // namespace orvantis
