#include "scan/accountfile.h"

#include "platform/asciitext.h"
#include "platform/failure.h"
#include "scan/filenames.h"
#include "scan/getscores.h"
#include "scan/levelreading.h"

#include <algorithm>
#include <cerrno>
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

bool isAccountFileRawName(std::string_view raw) {
    if (raw.size() >= 3 && isAscii(raw.end() - 3, raw.end())) {
        const std::string_view end = raw.substr(raw.size() - 3);
        return std::equal(end.begin(), end.end(), "ini",
                          [](char a, char b) { return foldAscii(a) == b; });
    }
    return isAccountFileName(
        decodeFileName(QByteArray(raw.data(), static_cast<qsizetype>(raw.size()))));
}

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
    for (size_t slot = 0; slot < 3; ++slot)
        file.names[slot] = trimSpaces(lookup.value(kName1 + static_cast<int>(slot)));
    if (highest.slot == u"X") {
        file.name = trimSpaces(lookup.value(kNameX));
    } else {
        file.slot = static_cast<uint8_t>(highest.slot[0].unicode() - u'0');
        file.name = file.names[file.slot - 1];
    }
    return file;
}

bool isProgramsOwnShortage(int error) {
    return error == EMFILE || error == ENFILE || error == ENOMEM || error == EBADF;
}

AccountFile readAccountFileAt(int folder, const QByteArray &rawName, ShortReads shortReads) {
    AccountFile file;
    if (!isAccountFileRawName(std::string_view(rawName.constData(), rawName.size())))
        return file;
    // Listed as a listing would: a regular file or a link to one, or an entry whose kind the
    // system would not tell.
    EntryKind kind{};
    if (const int error = kindInFolder(folder, rawName.constData(), kind)) {
        if (error == ENOENT || error == ENOTDIR || error == ELOOP)
            return file;
    } else if (kind != EntryKind::RegularFile) {
        return file;
    }
    IniLookup lookup(accountFileKeys());
    std::vector<char> buffer;
    const FileRead read =
        readIniFileAt(lookup, buffer, folder, rawName.constData(), nullptr, shortReads);
    switch (read.outcome) {
    case FileRead::Missing:
    case FileRead::NotAFile:
        return file; // gone, or replaced by something no listing keeps, since it was looked at
    case FileRead::Failed:
        if (isProgramsOwnShortage(read.error))
            throw systemFailure(
                read.error,
                QStringLiteral("Cannot open the account file %1").arg(decodeFileName(rawName)));
        file.outcome = FileOutcome::Unreadable;
        file.error = read.error;
        return file;
    default:
        return parseAccountFile(lookup);
    }
}

} // namespace orvantis
