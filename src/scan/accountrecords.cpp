#include "scan/accountrecords.h"

#include "platform/decimaltext.h"
#include "platform/failure.h"

#include <algorithm>
#include <climits>

namespace orvantis {

void AccountRecords::reserve(size_t count, size_t textLength) {
    records_.reserve(count);
    text_.reserve(static_cast<qsizetype>(std::min<size_t>(textLength, UINT32_MAX)));
}

void AccountRecords::add(uint32_t place, int32_t level, uint8_t slot, QStringView login,
                         QStringView name) {
    if (text_.size() + login.size() + name.size() > qsizetype{UINT32_MAX})
        throw Failure(kOutOfMemory, QStringLiteral("Too many logins and names to keep"));
    records_.push_back({place, level, static_cast<uint32_t>(text_.size()),
                        static_cast<uint16_t>(login.size()), static_cast<uint16_t>(name.size()),
                        slot});
    text_ += login;
    text_ += name;
}

void AccountRecords::rank() {
    std::stable_sort(
        records_.begin(), records_.end(),
        [](const AccountRecord &a, const AccountRecord &b) { return a.level > b.level; });
}

QStringView AccountRecords::login(size_t i) const {
    const AccountRecord &r = records_[i];
    return QStringView(text_).mid(r.textStart, r.loginLength);
}

QStringView AccountRecords::name(size_t i) const {
    const AccountRecord &r = records_[i];
    return QStringView(text_).mid(qsizetype{r.textStart} + r.loginLength, r.nameLength);
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
