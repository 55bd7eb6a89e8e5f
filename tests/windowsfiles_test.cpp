// The scan's file calls on Windows: the listing's names and attributes, opening relative to the
// listed folder, and Windows' errors read as the scan's rules expect them.
#include "accountfiles.h"
#include "listhelpers.h"
#include "recordingmessagebox.h"
#include "scan/accounts/accountcells.h"
#include "scan/getscores.h"
#include "scan/reading/accountsfolder.h"
#include "scan/reading/folderlisting.h"
#include "scan/reading/inifiles.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cerrno>

using namespace orvantis;

namespace {

void setAttributes(const QString &path, DWORD attributes) {
    ASSERT_TRUE(::SetFileAttributesW(path.toStdWString().c_str(), attributes))
        << path.toStdString();
}

// Holds a file open with no sharing, as an editor or a backup tool may: no one else may open it.
class LockedFile {
public:
    explicit LockedFile(const QString &path)
        : handle_(::CreateFileW(path.toStdWString().c_str(), GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr)) {
        EXPECT_NE(handle_, INVALID_HANDLE_VALUE) << path.toStdString();
    }
    ~LockedFile() { ::CloseHandle(handle_); }

private:
    HANDLE handle_;
};

} // namespace

TEST(WindowsFiles, AnAccountsFolderMarkedHiddenOrSystemIsNotFound) {
    TempFolder plain, hidden, system, otherCase;
    plain.mkdir("accounts");
    EXPECT_TRUE(findAccountsFolder(plain.path()).found);
    setAttributes(hidden.mkdir("accounts"), FILE_ATTRIBUTE_HIDDEN);
    EXPECT_FALSE(findAccountsFolder(hidden.path()).found);
    setAttributes(system.mkdir("accounts"), FILE_ATTRIBUTE_SYSTEM);
    EXPECT_FALSE(findAccountsFolder(system.path()).found);
    // The file system ignores letter case; the check does not.
    otherCase.mkdir("Accounts");
    EXPECT_FALSE(findAccountsFolder(otherCase.path()).found);
}

TEST(WindowsFiles, TheListingHasEveryFileByItsUnicodeNameAndNoFolder) {
    TempFolder folder;
    folder.write(QStringLiteral("accounts/\u00c6rin.ini"), accountFile("aerin", {"3", "0", "0"}));
    folder.write(QStringLiteral("accounts/\u540d\u524d.ini"),
                 accountFile("namae", {"5", "0", "0"}));
    const QString hidden = folder.write("accounts/hidden.ini", accountFile("hid", {"7", "0", "0"}));
    setAttributes(hidden, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    folder.mkdir("accounts/folder.ini");
    const FolderListing listing = listRegularFiles(folder.path("accounts"));
    ASSERT_EQ(listing.state(), FolderState::Listed);
    QStringList names;
    for (size_t i = 0; i < listing.size(); ++i)
        names << listing.name(i);
    // In name order, by the names' UTF-8 bytes, as on Linux.
    EXPECT_EQ(names, QStringList({QStringLiteral("hidden.ini"), QStringLiteral("\u00c6rin.ini"),
                                  QStringLiteral("\u540d\u524d.ini")}));
    // Each opens relative to the folder as listed, by the name as listed.
    for (size_t i = 0; i < listing.size(); ++i) {
        IniLookup lookup({{QStringLiteral("GENERAL"), QStringLiteral("Login")}});
        std::vector<char> buffer;
        const FileRead read =
            readIniFileAt(lookup, buffer, listing.folderDescriptor(), listing.rawName(i).data(),
                          nullptr, ShortReads::EndTheFile);
        EXPECT_EQ(read.outcome, FileRead::Read) << names[int(i)].toStdString();
        EXPECT_FALSE(lookup.value(0).isEmpty()) << names[int(i)].toStdString();
    }
}

TEST(WindowsFiles, MissingFilesFoldersAndLockedFilesReadAsTheRulesSay) {
    TempFolder folder;
    folder.mkdir("accounts/folder.ini");
    const QString locked =
        folder.write("accounts/locked.ini", accountFile("lock", {"9", "0", "0"}));
    const FolderListing listing = listRegularFiles(folder.path("accounts"));
    const auto readAt = [&](const char *name) {
        IniLookup lookup({{QStringLiteral("GENERAL"), QStringLiteral("Login")}});
        std::vector<char> buffer;
        return readIniFileAt(lookup, buffer, listing.folderDescriptor(), name, nullptr,
                             ShortReads::EndTheFile);
    };
    EXPECT_EQ(readAt("gone.ini").outcome, FileRead::Missing);
    EXPECT_EQ(readAt("folder.ini").outcome, FileRead::NotAFile);
    const LockedFile lock(locked);
    const FileRead read = readAt("locked.ini");
    EXPECT_EQ(read.outcome, FileRead::Failed);
    EXPECT_EQ(read.error, EACCES);
}

TEST(WindowsFiles, ALockedAccountFileIsLeftOutWithItsReason) {
    TempFolder folder;
    folder.write("accounts/a.ini", accountFile("alice", {"12", "0", "0"}));
    const QString locked = folder.write("accounts/b.ini", accountFile("bob", {"30", "0", "0"}));
    const LockedFile lock(locked);
    ReportList list{reportColumnTitles()};
    RecordingMessageBox messages;
    const ScanReport report = GetScores(folder.path(), list, {messages, QLocale::c()});
    EXPECT_EQ(rowTexts(list), QStringList({"alice|12|1|One"}));
    ASSERT_EQ(report.skipped.size(), 1u);
    EXPECT_EQ(report.skipped[0].name, QStringLiteral("b.ini"));
    EXPECT_EQ(report.skipped[0].reason, QStringLiteral("could not be read: Permission denied"));
}
