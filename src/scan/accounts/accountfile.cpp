#include "scan/accounts/accountfile.h"

#include "scan/accounts/highestlevel.h"
#include "scan/ini/levelreading.h"

#include <optional>

namespace orvantis {

namespace {

// The values one account file gives, in the order the lookup returns them.
enum AccountValue { kLogin, kLevel1, kLevel2, kLevel3, kName1, kName2, kName3, kNameX };

QString trimSpaces(const QString &text) {
    qsizetype begin = 0, end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

std::vector<IniName> accountFileKeys() {
    return {{"GENERAL", "Login"}, {"CHAR1", "Level"}, {"CHAR2", "Level"}, {"CHAR3", "Level"},
            {"CHAR1", "Name"},    {"CHAR2", "Name"},  {"CHAR3", "Name"},  {"CHARX", "Name"}};
}

AccountFile parseAccountFile(const IniLookup &lookup) {
    AccountFile file;
    for (int slot = 0; slot < 3; ++slot) {
        // Reading skips blanks wherever they stand, so trimming is left to it.
        const auto ascii = lookup.asciiValue(kLevel1 + slot);
        const std::optional<int32_t> level =
            ascii
                ? readLevel(QLatin1StringView(ascii->data(), static_cast<qsizetype>(ascii->size())))
                : readLevel(lookup.value(kLevel1 + slot));
        if (!level) {
            file.outcome = FileOutcome::OutOfRange;
            return file;
        }
        file.levels[static_cast<size_t>(slot)] = *level;
    }
    file.login = lookup.value(kLogin);
    if (file.login.isEmpty()) {
        file.outcome = FileOutcome::NoLogin;
        return file;
    }
    file.outcome = FileOutcome::Row;
    const HighestLevel highest = findHighestLevel(file.levels[0], file.levels[1], file.levels[2]);
    file.level = highest.level;
    file.slot = highest.slot;
    for (size_t slot = 0; slot < 3; ++slot)
        file.names[slot] = trimSpaces(lookup.value(kName1 + static_cast<int>(slot)));
    file.name = file.slot == 0 ? trimSpaces(lookup.value(kNameX)) : file.names[file.slot - 1];
    return file;
}

} // namespace orvantis
