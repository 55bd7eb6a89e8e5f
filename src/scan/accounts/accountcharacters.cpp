#include "scan/accounts/accountcharacters.h"

#include <QStringList>

#include <algorithm>

namespace orvantis {

void AccountCharacters::set(uint32_t place, const std::array<int32_t, kSlots> &levels,
                            uint16_t block, uint32_t nameStart,
                            const std::array<uint8_t, kSlots> &nameLengths) {
    Account &account = accounts_.at(place);
    for (size_t slot = 0; slot < kSlots; ++slot) {
        account.levels[slot] = levels[slot];
        account.nameLengths[slot] = nameLengths[slot];
    }
    account.block = block;
    account.nameStart = nameStart;
    account.kept = true;
}

int32_t AccountCharacters::level(uint32_t place, int slot) const {
    return has(place) && slot >= 1 && slot <= kSlots ? accounts_[place].levels[slot - 1] : 0;
}

void AccountCharacters::growTo(size_t places) {
    if (places > accounts_.size())
        accounts_.resize(places);
}

void AccountCharacters::keep(uint32_t place, const std::array<int32_t, kSlots> &levels,
                             const std::array<QString, kSlots> &names) {
    Account &account = accounts_.at(place);
    release(account);
    account = Account{};
    account.block = kOwnBlock;
    for (size_t slot = 0; slot < kSlots; ++slot) {
        const QStringView name = QStringView(names[slot]).left(255);
        account.levels[slot] = levels[slot];
        account.nameLengths[slot] = static_cast<uint8_t>(name.size());
        const uint32_t start = own_.add(name);
        if (slot == 0)
            account.nameStart = start;
    }
    account.kept = true;
    compactOwnText();
}

void AccountCharacters::forget(uint32_t place) {
    if (!has(place))
        return;
    release(accounts_[place]);
    accounts_[place] = Account{};
    compactOwnText();
}

void AccountCharacters::release(const Account &account) {
    if (account.kept && account.block == kOwnBlock)
        own_.release(qsizetype{account.nameLengths[0]} + account.nameLengths[1] +
                     account.nameLengths[2]);
}

void AccountCharacters::compactOwnText() {
    own_.compactIfMostlyGone([this](auto &&keep) {
        for (Account &account : accounts_)
            if (account.kept && account.block == kOwnBlock)
                keep(account.nameStart, qsizetype{account.nameLengths[0]} + account.nameLengths[1] +
                                            account.nameLengths[2]);
    });
}

const QString *AccountCharacters::textOf(const Account &account) const {
    if (account.block == kOwnBlock)
        return &own_.text();
    return blocks_ ? &(*blocks_)[account.block] : nullptr;
}

QStringView AccountCharacters::name(uint32_t place, int slot) const {
    if (!has(place) || slot < 1 || slot > kSlots)
        return {};
    const Account &account = accounts_[place];
    const QString *text = textOf(account);
    if (!text)
        return {};
    qsizetype start = account.nameStart;
    for (int before = 0; before < slot - 1; ++before)
        start += account.nameLengths[before];
    return QStringView(*text).mid(start, account.nameLengths[slot - 1]);
}

std::optional<int32_t> AccountCharacters::tiedLevel(uint32_t place) const {
    if (!has(place))
        return std::nullopt;
    const int32_t *levels = accounts_[place].levels;
    const int32_t top = *std::max_element(levels, levels + kSlots);
    if (std::count(levels, levels + kSlots, top) < 2)
        return std::nullopt;
    return top;
}

QString AccountCharacters::tieText(uint32_t place) const {
    const std::optional<int32_t> tied = tiedLevel(place);
    if (!tied)
        return {};
    QStringList sharing;
    for (int slot = 1; slot <= kSlots; ++slot)
        if (level(place, slot) == *tied)
            sharing << QString::number(slot);
    const QString last = sharing.takeLast();
    return QStringLiteral("Slots %1 and %2 share level %3")
        .arg(sharing.join(QStringLiteral(", ")), last, QString::number(*tied));
}

QString AccountCharacters::charactersText(uint32_t place) const {
    QStringList lines;
    for (int slot = 1; slot <= kSlots; ++slot) {
        const QStringView characterName = name(place, slot);
        if (characterName.isEmpty() && level(place, slot) == 0)
            continue;
        lines << QStringLiteral("Slot %1: %2, level %3")
                     .arg(QString::number(slot),
                          characterName.isEmpty() ? QStringLiteral("(no name)")
                                                  : characterName.toString(),
                          QString::number(level(place, slot)));
    }
    return lines.isEmpty() ? QStringLiteral("No characters") : lines.join(u'\n');
}

} // namespace orvantis
