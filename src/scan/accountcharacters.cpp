#include "scan/accountcharacters.h"

#include <QStringList>

#include <algorithm>
#include <climits>

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

QStringView AccountCharacters::name(uint32_t place, int slot) const {
    if (!has(place) || slot < 1 || slot > kSlots || !blocks_)
        return {};
    const Account &account = accounts_[place];
    qsizetype start = account.nameStart;
    for (int before = 0; before < slot - 1; ++before)
        start += account.nameLengths[before];
    return QStringView((*blocks_)[account.block]).mid(start, account.nameLengths[slot - 1]);
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
