// The file system through Win32, for Windows. Descriptors are the C runtime's, each holding a
// Windows handle: files open relative to an open folder's handle (NtCreateFile with a root
// directory, what openat is on Linux), are read with ReadFile, and listed with
// FindFirstFileExW. Names are UTF-16 on disk and UTF-8 here; Windows' error codes become errno
// values, so that the scan's rules for failures are the same as on Linux.
#include "scan/system/folderentries.h"
#include "scan/system/systemfiles.h"

#include "scan/system/filenames.h"

#include <windows.h>
#include <winternl.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <string>

namespace orvantis {

const int kIniOpenFlags = _O_RDONLY | _O_BINARY;

namespace {

constexpr NTSTATUS kFileIsADirectory = static_cast<NTSTATUS>(0xC00000BAL);
constexpr NTSTATUS kNotADirectory = static_cast<NTSTATUS>(0xC0000103L);

int errnoOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_READY:
        return ENOENT;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_PRIVILEGE_NOT_HELD:
        return EACCES;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
        return ENOMEM;
    case ERROR_CANT_RESOLVE_FILENAME:
        return ELOOP;
    case ERROR_INVALID_HANDLE:
        return EBADF;
    default:
        return EIO;
    }
}

std::wstring widePath(const QByteArray &path) {
    return decodeFileName(path.isEmpty() ? QByteArray(".") : path).toStdWString();
}

// A descriptor holding `handle`, which it closes; -1 with errno set (and the handle closed)
// when the C runtime has no room for it.
int descriptorOf(HANDLE handle) {
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(handle);
        errno = EMFILE;
    }
    return fd;
}

HANDLE handleOf(int fd) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

EntryKind kindOfAttributes(DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return EntryKind::Folder;
    if (attributes & FILE_ATTRIBUTE_DEVICE)
        return EntryKind::Other;
    return EntryKind::RegularFile;
}

int identityOfHandle(HANDLE entry, EntryIdentity &identity) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(entry, &info))
        return errnoOf(::GetLastError());
    identity = {info.dwVolumeSerialNumber, uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow,
                (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0};
    return 0;
}

int kindOfHandle(HANDLE handle, EntryKind &kind) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) {
        // Not a file on a disk at all: a pipe, a console.
        if (::GetFileType(handle) != FILE_TYPE_DISK) {
            kind = EntryKind::Other;
            return 0;
        }
        return errnoOf(::GetLastError());
    }
    kind = kindOfAttributes(info.dwFileAttributes);
    return 0;
}

// Opens `name` relative to the folder handle `folder`, links followed; the status, with the
// handle in `handle` when it is a success.
NTSTATUS openRelative(HANDLE folder, const char *name, ACCESS_MASK access, ULONG options,
                      HANDLE &handle) {
    std::wstring wide = decodeFileName(QByteArray(name)).toStdWString();
    UNICODE_STRING unicodeName;
    unicodeName.Buffer = wide.data();
    unicodeName.Length = static_cast<USHORT>(wide.size() * sizeof(wchar_t));
    unicodeName.MaximumLength = unicodeName.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &unicodeName, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK status{};
    return ::NtCreateFile(&handle, access | SYNCHRONIZE, &attributes, &status, nullptr, 0,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                          options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
}

int errnoOfStatus(NTSTATUS status) {
    if (status == kFileIsADirectory)
        return EISDIR;
    if (status == kNotADirectory)
        return ENOTDIR;
    return errnoOf(::RtlNtStatusToDosError(status));
}

HANDLE openByPath(const QByteArray &path, DWORD access, DWORD flags) {
    return ::CreateFileW(widePath(path).c_str(), access,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, flags, nullptr);
}

} // namespace

struct FolderEntries::State {
    int folder = -1; // the folder's own handle, as a descriptor, for opening its files
    HANDLE find = INVALID_HANDLE_VALUE;
    bool pending = false; // the entry FindFirstFileExW gave is yet to be handed out
    int error = 0;
    WIN32_FIND_DATAW data{};
    QByteArray name;
    FolderEntry entry{};
};

FolderEntries::FolderEntries(const QByteArray &path) : state_(std::make_unique<State>()) {
    State &s = *state_;
    const HANDLE folder =
        openByPath(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_FLAG_BACKUP_SEMANTICS);
    if (folder == INVALID_HANDLE_VALUE) {
        s.error = errnoOf(::GetLastError());
        return;
    }
    EntryKind kind{};
    if (kindOfHandle(folder, kind) == 0 && kind != EntryKind::Folder) {
        ::CloseHandle(folder);
        s.error = ENOTDIR;
        return;
    }
    if ((s.folder = descriptorOf(folder)) < 0) {
        s.error = errno;
        return;
    }
    const std::wstring pattern = widePath(path) + L"\\*";
    s.find = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &s.data, FindExSearchNameMatch,
                                nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (s.find == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES) {
            s.error = errnoOf(error);
            ::_close(s.folder);
            s.folder = -1;
        }
        return; // an empty folder
    }
    s.pending = true;
}

FolderEntries::~FolderEntries() {
    if (state_->find != INVALID_HANDLE_VALUE)
        ::FindClose(state_->find);
    if (state_->folder >= 0)
        ::_close(state_->folder);
}

bool FolderEntries::isOpen() const {
    return state_->folder >= 0;
}

int FolderEntries::error() const {
    return state_->error;
}

int FolderEntries::descriptor() const {
    return state_->folder;
}

const FolderEntry *FolderEntries::next() {
    State &s = *state_;
    for (;;) {
        if (s.find == INVALID_HANDLE_VALUE || s.error != 0)
            return nullptr;
        if (!s.pending && !::FindNextFileW(s.find, &s.data)) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_NO_MORE_FILES)
                s.error = errnoOf(error);
            return nullptr;
        }
        s.pending = false;
        const wchar_t *wide = s.data.cFileName;
        if (wide[0] == L'.' && (wide[1] == L'\0' || (wide[1] == L'.' && wide[2] == L'\0')))
            continue;
        s.name = encodeFileName(QString::fromWCharArray(wide));
        const DWORD attributes = s.data.dwFileAttributes;
        FolderEntry::Type type = FolderEntry::File;
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            type = FolderEntry::Link; // a link or a junction: what it leads to decides
        else if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            type = FolderEntry::Folder;
        else if (attributes & FILE_ATTRIBUTE_DEVICE)
            type = FolderEntry::Other;
        s.entry = {s.name.constData(), static_cast<size_t>(s.name.size()), type,
                   (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0};
        return &s.entry;
    }
}

int openInFolder(int folderFd, const char *name) {
    HANDLE file = INVALID_HANDLE_VALUE;
    const NTSTATUS status =
        openRelative(handleOf(folderFd), name, FILE_GENERIC_READ, FILE_NON_DIRECTORY_FILE, file);
    if (!NT_SUCCESS(status)) {
        errno = errnoOfStatus(status);
        return -1;
    }
    return descriptorOf(file);
}

int openPath(const QByteArray &path) {
    const HANDLE file = openByPath(path, GENERIC_READ, FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        // A folder opened as a file is refused as access denied; say what it is.
        const DWORD attributes = ::GetFileAttributesW(widePath(path).c_str());
        errno = error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
                        (attributes & FILE_ATTRIBUTE_DIRECTORY)
                    ? EISDIR
                    : errnoOf(error);
        return -1;
    }
    return descriptorOf(file);
}

int openFolder(const QByteArray &path) {
    const HANDLE folder =
        openByPath(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_FLAG_BACKUP_SEMANTICS);
    if (folder == INVALID_HANDLE_VALUE) {
        errno = errnoOf(::GetLastError());
        return -1;
    }
    return descriptorOf(folder);
}

void closeFile(int fd) {
    ::_close(fd);
}

ssize_t readFile(int fd, void *buffer, size_t size) {
    DWORD got = 0;
    const DWORD asked = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    if (!::ReadFile(handleOf(fd), buffer, asked, &got, nullptr)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE)
            return 0;
        errno = errnoOf(error);
        return -1;
    }
    return static_cast<ssize_t>(got);
}

int rewindFile(int fd) {
    LARGE_INTEGER start{};
    return ::SetFilePointerEx(handleOf(fd), start, nullptr, FILE_BEGIN) ? 0
                                                                        : errnoOf(::GetLastError());
}

int kindOfOpenFile(int fd, EntryKind &kind) {
    return kindOfHandle(handleOf(fd), kind);
}

int kindInFolder(int folderFd, const char *name, EntryKind &kind) {
    HANDLE entry = INVALID_HANDLE_VALUE;
    const NTSTATUS status = openRelative(handleOf(folderFd), name, FILE_READ_ATTRIBUTES, 0, entry);
    if (!NT_SUCCESS(status))
        return errnoOfStatus(status);
    const int error = kindOfHandle(entry, kind);
    ::CloseHandle(entry);
    return error;
}

int kindOfPath(const QByteArray &path, EntryKind &kind) {
    const HANDLE entry = openByPath(path, FILE_READ_ATTRIBUTES, FILE_FLAG_BACKUP_SEMANTICS);
    if (entry == INVALID_HANDLE_VALUE)
        return errnoOf(::GetLastError());
    const int error = kindOfHandle(entry, kind);
    ::CloseHandle(entry);
    return error;
}

bool entryExists(const QByteArray &path) {
    return ::GetFileAttributesW(widePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool isLink(const QByteArray &path) {
    const DWORD attributes = ::GetFileAttributesW(widePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

int identityOfPath(const QByteArray &path, bool followLinks, EntryIdentity &identity) {
    const HANDLE entry =
        openByPath(path, FILE_READ_ATTRIBUTES,
                   FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT));
    if (entry == INVALID_HANDLE_VALUE)
        return errnoOf(::GetLastError());
    const int error = identityOfHandle(entry, identity);
    ::CloseHandle(entry);
    return error;
}

int identityOfOpenFile(int fd, EntryIdentity &identity) {
    const HANDLE entry = handleOf(fd);
    if (entry == INVALID_HANDLE_VALUE)
        return EBADF;
    return identityOfHandle(entry, identity);
}

int linksInFolder(int folderFd, const char *name, EntryLinks &links) {
    HANDLE entry = INVALID_HANDLE_VALUE;
    const NTSTATUS status = openRelative(handleOf(folderFd), name, FILE_READ_ATTRIBUTES,
                                         FILE_OPEN_REPARSE_POINT, entry);
    if (!NT_SUCCESS(status))
        return errnoOfStatus(status);
    BY_HANDLE_FILE_INFORMATION info{};
    const bool told = ::GetFileInformationByHandle(entry, &info);
    const DWORD error = ::GetLastError();
    ::CloseHandle(entry);
    if (!told)
        return errnoOf(error);
    links = {(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0, info.nNumberOfLinks};
    return 0;
}

QString linkTargetOf(const QByteArray &) {
    return QString(); // a link to nowhere keeps its target to itself here
}

} // namespace orvantis
