#pragma once

#include "scan/accounts/accountrecords.h"
#include "scan/accounts/owntext.h"

#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace orvantis {

// The three characters of every account a scan made a row for, as its file gives them: each
// slot's level and trimmed name. They are what the name cell's tooltip lists, what the find bar
// looks through besides the login, and where a tied account's shared level comes from. Kept by
// the account file's place in the scan's listing; the names are in the blocks of text the scan's
// threads made, so that a million accounts cost little more than their names.
class AccountCharacters {
public:
    static constexpr int kSlots = 3;

    // Room for accounts at listing places below `places`, each kept by the thread that read its
    // file: threads may set the accounts of different places at once.
    explicit AccountCharacters(size_t places = 0) : accounts_(places) {}
    // Keeps the account at listing place `place` (below the places given): the slots' levels,
    // and their names one after another from `nameStart` in text block `block`, each as long as
    // `nameLengths` says.
    void set(uint32_t place, const std::array<int32_t, kSlots> &levels, uint16_t block,
             uint32_t nameStart, const std::array<uint8_t, kSlots> &nameLengths);
    // The blocks of text the names are in, once every account is set.
    void setBlocks(std::shared_ptr<const TextBlocks> blocks) { blocks_ = std::move(blocks); }

    // As the folder changes: room for places below `places`; the account at `place` kept
    // anew, its names in a block of this object's own; or no longer kept.
    void growTo(size_t places);
    void keep(uint32_t place, const std::array<int32_t, kSlots> &levels,
              const std::array<QString, kSlots> &names);
    void forget(uint32_t place);

    // How long the own block's text is: it stays near what accounts still point to.
    qsizetype ownTextLength() const { return own_.size(); }

    bool has(uint32_t place) const { return place < accounts_.size() && accounts_[place].kept; }
    // Slot 1, 2 or 3 of the account at `place`; 0 and the empty name for an account not kept.
    int32_t level(uint32_t place, int slot) const;
    QStringView name(uint32_t place, int slot) const;
    // The level at which two or three characters share the top, when no slot is highest alone.
    std::optional<int32_t> tiedLevel(uint32_t place) const;
    // The slots that share the top, when no slot is highest alone: "Slots 1 and 2 share level
    // 293"; nothing when one slot is highest alone or the account was not kept.
    QString tieText(uint32_t place) const;
    // Each slot with a character in it, a line each: "Slot 2: Mirelle, level 40"; or "No
    // characters" when no slot has a name or a level.
    QString charactersText(uint32_t place) const;

private:
    struct Account {
        int32_t levels[kSlots] = {0, 0, 0};
        uint32_t nameStart = 0; // in its block, the slots' names one after another
        uint16_t block = 0;
        uint8_t nameLengths[kSlots] = {0, 0, 0};
        bool kept = false;
    };
    static constexpr uint16_t kOwnBlock = AccountRecords::kOwnBlock;
    const QString *textOf(const Account &account) const;
    void release(const Account &account);
    void compactOwnText();

    std::vector<Account> accounts_;
    std::shared_ptr<const TextBlocks> blocks_;
    OwnText own_; // the names of accounts kept anew
};

} // namespace orvantis
