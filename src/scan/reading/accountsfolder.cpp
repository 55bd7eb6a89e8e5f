#include "scan/reading/accountsfolder.h"

#include "scan/system/filenames.h"
#include "scan/system/folderentries.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>

namespace orvantis {

// The entry is looked for by reading the folder, so that its name as stored on disk is what is
// compared, also on a file system that ignores letter case.
AccountsFolderSearch findAccountsFolder(const QString &programFolder) {
    FolderEntries entries(encodeFileName(programFolder));
    if (!entries.isOpen() && (entries.error() == ENOENT || entries.error() == ENOTDIR))
        return {}; // no program folder, so no accounts folder in it
    // An entry marked hidden or system is not reported, as the system's own look-up has it.
    while (const FolderEntry *entry = entries.next())
        if (!entry->hiddenOrSystem && std::strcmp(entry->name, "accounts") == 0)
            return {true, std::nullopt};
    if (entries.error() == 0)
        return {};
    const QString shown = programFolder.isEmpty() ? QStringLiteral(".") : programFolder;
    return {false, systemScanFailure(ScanFailure::FolderUnreadable, entries.error(), shown,
                                     QStringLiteral("Cannot read the folder ") + shown)};
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
