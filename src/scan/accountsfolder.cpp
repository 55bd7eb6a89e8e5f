#include "scan/accountsfolder.h"

#include "platform/asciitext.h"
#include "platform/failure.h"
#include "scan/filenames.h"
#include "scan/folderfiles.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>

namespace orvantis {

// The entry is looked for by reading the folder, so that its name as stored on disk is what is
// compared, also on a file system that ignores letter case.
bool accountsFolderFound(const QString &programFolder) {
    FolderEntries entries(encodeFileName(programFolder));
    if (!entries.isOpen() && (entries.error() == ENOENT || entries.error() == ENOTDIR))
        return false; // no program folder, so no accounts folder in it
    // An entry marked hidden or system is not reported, as the system's own look-up has it.
    while (const FolderEntry *entry = entries.next())
        if (!entry->hiddenOrSystem && std::strcmp(entry->name, "accounts") == 0)
            return true;
    if (entries.error() != 0)
        throw systemFailure(entries.error(),
                            QStringLiteral("Cannot read the folder ") +
                                (programFolder.isEmpty() ? QStringLiteral(".") : programFolder));
    return false;
}

bool isAccountsNameIgnoringCase(std::string_view name) {
    static constexpr std::string_view kAccounts = "accounts";
    if (name.size() != kAccounts.size())
        return false;
    for (size_t i = 0; i < name.size(); ++i)
        if (foldAscii(name[i]) != kAccounts[i])
            return false;
    return true;
}

QString whereNoAccountsFolderIs(const QString &programFolder) {
    const QFileInfo folder(programFolder.isEmpty() ? QStringLiteral(".") : programFolder);
    const QString path = folder.absoluteFilePath();
    if (!folder.exists())
        return QStringLiteral("%1 does not exist").arg(path);
    if (!folder.isDir())
        return QStringLiteral("%1 is not a folder").arg(path);
    return QStringLiteral("no entry named exactly \"accounts\" in %1").arg(path);
}

} // namespace orvantis
