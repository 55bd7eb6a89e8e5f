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
    if (own_.size() + login.size() + name.size() > qsizetype{UINT32_MAX})
        throw Failure(kOutOfMemory, QStringLiteral("Too many logins and names to keep"));
    records_.push_back({place, level, static_cast<uint32_t>(own_.size()), 0,
                        static_cast<uint8_t>(std::min<qsizetype>(login.size(), 255)),
                        static_cast<uint8_t>(std::min<qsizetype>(name.size(), 255)), slot});
    own_ += login.left(255);
    own_ += name.left(255);
}

QStringView AccountRecords::login(size_t i) const {
    const AccountRecord &r = records_[i];
    const QString &text = blocks_ ? (*blocks_)[r.block] : own_;
    return QStringView(text).mid(r.textStart, r.loginLength);
}

QStringView AccountRecords::name(size_t i) const {
    const AccountRecord &r = records_[i];
    const QString &text = blocks_ ? (*blocks_)[r.block] : own_;
    return QStringView(text).mid(qsizetype{r.textStart} + r.loginLength, r.nameLength);
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
