#include "scan/getscores.h"

#include "platform/asciitext.h"
#include "platform/decimaltext.h"
#include "platform/failure.h"
#include "scan/folderfiles.h"
#include "scan/inireader.h"
#include "scan/levelreading.h"

#include <algorithm>
#include <string_view>

namespace orvantis {

namespace {

// The values one account file gives, in the order the lookup returns them.
enum AccountValue { kLogin, kLevel1, kLevel2, kLevel3, kName1, kName2, kName3, kNameX };

std::vector<IniName> accountNames() {
    return {{"GENERAL", "Login"}, {"CHAR1", "Level"}, {"CHAR2", "Level"}, {"CHAR3", "Level"},
            {"CHAR1", "Name"},    {"CHAR2", "Name"},  {"CHAR3", "Name"},  {"CHARX", "Name"}};
}

QString trimSpaces(const QString &text) {
    qsizetype begin = 0, end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.mid(begin, end - begin);
}

// The account file name rule, on the name as stored when its end is plain ASCII.
bool isAccountFile(const FolderListing &listing, size_t i) {
    const std::string_view raw = listing.rawName(i);
    if (raw.size() >= 3 && isAscii(raw.end() - 3, raw.end())) {
        const std::string_view end = raw.substr(raw.size() - 3);
        return std::equal(end.begin(), end.end(), "ini",
                          [](char a, char b) { return foldAscii(a) == b; });
    }
    return isAccountFileName(listing.name(i));
}

int nameValueOf(const QString &slot) {
    if (slot == u"1")
        return kName1;
    if (slot == u"2")
        return kName2;
    if (slot == u"3")
        return kName3;
    return kNameX;
}

} // namespace

QString levelText(int32_t level) {
    constexpr int kRoom = 12; // a sign, ten digits and the closing mark of a negative level
    char16_t digits[kDecimalRoom];
    const int length = writeDecimal(level, digits);
    QString text(kRoom, Qt::Uninitialized);
    std::copy(digits, digits + length, reinterpret_cast<char16_t *>(text.data()));
    text.resize(length); // keeps the room
    return text;
}

bool isAccountFileName(const QString &name) {
    return name.right(3).toLower() == QLatin1String("ini");
}

HighestLevel findHighestLevel(int32_t l1, int32_t l2, int32_t l3) {
    if (l1 > l2 && l1 > l3)
        return {QStringLiteral("1"), l1};
    if (l2 > l1 && l2 > l3)
        return {QStringLiteral("2"), l2};
    if (l3 > l1 && l3 > l2)
        return {QStringLiteral("3"), l3};
    return {QStringLiteral("X"), 0};
}

ScanReport GetScores(const QString &programFolder, ReportList &lvLevels,
                     const SortEnvironment &environment) {
    ScanReport report;
    // Listed once; every account file is then read once, through the folder as found on disk.
    const FolderListing listing = listRegularFiles(programFolder + QStringLiteral("/accounts/"));
    IniLookup lookup(accountNames());
    lvLevels.reserve(lvLevels.listItems().Count() + static_cast<int>(listing.size()));
    QByteArray path;
    int rowCounter = 1;
    for (size_t i = 0; i < listing.size(); ++i) {
        if (!isAccountFile(listing, i))
            continue;
        listing.path(i, path);
        lookup.readFile(path);
        int32_t levels[3];
        try {
            for (int slot = 0; slot < 3; ++slot) {
                // Reading skips blanks wherever they stand, so trimming is left to it.
                const auto ascii = lookup.asciiValue(kLevel1 + slot);
                levels[slot] = ascii ? readLevel(QLatin1StringView(
                                           ascii->data(), static_cast<qsizetype>(ascii->size())))
                                     : readLevel(lookup.value(kLevel1 + slot));
            }
        } catch (const Failure &failure) {
            if (failure.number() != kOverflow)
                throw;
            report.skipped.push_back(
                {listing.name(i),
                 QStringLiteral("a character level is outside -2147483648 to 2147483647")});
            continue;
        }
        const HighestLevel highest = findHighestLevel(levels[0], levels[1], levels[2]);
        const QString login = lookup.value(kLogin);
        if (login.isEmpty())
            continue;
        const ListItem row = lvLevels.listItems().Add(rowCounter, login);
        row.SetSubItems(1, levelText(highest.level));
        row.SetSubItems(2, highest.slot);
        row.SetSubItems(3, trimSpaces(lookup.value(nameValueOf(highest.slot))));
        ++rowCounter;
    }
    SortListColumn(lvLevels, 2, SortNumber, SortDescending, environment);
    return report;
}

} // namespace orvantis
