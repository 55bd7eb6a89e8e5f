#include "scan/reading/changereading.h"

#include "scan/accounts/accountnames.h"
#include "scan/reading/inifiles.h"
#include "scan/system/filenames.h"
#include "scan/system/filering.h"
#include "scan/system/systemfiles.h"

#include <cerrno>

namespace orvantis {

namespace {

// Reads the entry `rawName` of the open folder as a listing would take it: an account file's
// name, and a regular file or a link to one, or an entry whose kind the system would not tell.
// Sets `failure` for the program's own shortage.
AccountFile readAccountFileAt(int folder, const QByteArray &rawName, ShortReads shortReads,
                              std::optional<ScanFailure> &failure) {
    AccountFile file;
    if (!isAccountFileRawName(std::string_view(rawName.constData(), rawName.size())))
        return file;
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
            failure = systemScanFailure(
                ScanFailure::FileUnopenable, read.error, decodeFileName(rawName),
                QStringLiteral("Cannot open the account file %1").arg(decodeFileName(rawName)));
        file.outcome = FileOutcome::Unreadable;
        file.error = read.error;
        return file;
    default:
        return parseAccountFile(lookup);
    }
}

} // namespace

ChangesRead readChangedFiles(const FolderListing &listing, const std::vector<QByteArray> &names) {
    ChangesRead read;
    const QString &folder = listing.folder();
    const int folderFd = folder.isEmpty() ? -1 : openFolder(encodeFileName(folder));
    if (folderFd < 0) {
        read.failure =
            systemScanFailure(ScanFailure::FolderUnreadable, folder.isEmpty() ? ENOENT : errno,
                              folder, QStringLiteral("Cannot read the folder ") + folder);
        return read;
    }
    EntryIdentity identity;
    if (const int error = identityOfOpenFile(folderFd, identity);
        error != 0 || !(identity == listing.folderIdentity())) {
        read.failure = ScanFailure{ScanFailure::FolderUnreadable, folder, error,
                                   QStringLiteral("The folder %1 is another now").arg(folder)};
        closeFile(folderFd);
        return read;
    }
    std::optional<ScanFailure> raised = failureOf([&] {
        const ShortReads shortReads = FileRing::trustsFileSystemOf(folderFd)
                                          ? ShortReads::EndTheFile
                                          : ShortReads::MayComeEarly;
        read.files.reserve(names.size());
        for (const QByteArray &name : names) {
            ChangedFile changed{name, readAccountFileAt(folderFd, name, shortReads, read.failure)};
            EntryLinks links;
            changed.linked = changed.file.outcome != FileOutcome::NotListed &&
                             linksInFolder(folderFd, name.constData(), links) == 0 &&
                             (links.symbolic || links.names > 1);
            read.files.push_back(std::move(changed));
            if (read.failure)
                return;
        }
    });
    closeFile(folderFd);
    if (raised)
        read.failure = std::move(raised);
    if (read.failure)
        read.files.clear();
    return read;
}

} // namespace orvantis
