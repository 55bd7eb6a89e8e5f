#include "scan/accounts/accountnames.h"

#include "platform/asciitext.h"
#include "scan/system/filenames.h"

#include <algorithm>

namespace orvantis {

QString accountsFolderOf(const QString &programFolder) {
    return programFolder + QStringLiteral("/accounts");
}

bool isAccountFileName(const QString &name) {
    return name.right(3).toLower() == QLatin1String("ini");
}

bool isAccountFileRawName(std::string_view raw) {
    if (raw.size() >= 3 && isAscii(raw.end() - 3, raw.end())) {
        const std::string_view end = raw.substr(raw.size() - 3);
        return std::equal(end.begin(), end.end(), "ini",
                          [](char a, char b) { return foldAscii(a) == b; });
    }
    return isAccountFileName(
        decodeFileName(QByteArray(raw.data(), static_cast<qsizetype>(raw.size()))));
}

bool isAccountsNameIgnoringCase(std::string_view name) {
    static constexpr std::string_view kAccounts = "accounts";
    return name.size() == kAccounts.size() &&
           std::equal(name.begin(), name.end(), kAccounts.begin(),
                      [](char a, char b) { return foldAscii(a) == b; });
}

} // namespace orvantis
