// Windows has no io_uring: no ring is ever made, and every file is read by the blocking readers.
// What stays is which file systems end a file at a short read.
#include "scan/system/filering.h"

#include <windows.h>

#include <io.h>

#include <cwchar>

struct io_uring {};

namespace orvantis {

std::unique_ptr<FileRing> FileRing::create(unsigned, size_t, RingFaults) noexcept {
    return nullptr;
}

// The local disks' file systems, whose reads give fewer bytes than asked only at a file's end.
// Network shares and others are read on to the read that gives nothing.
bool FileRing::trustsFileSystemOf(int folderFd) {
    const auto folder = reinterpret_cast<HANDLE>(::_get_osfhandle(folderFd));
    wchar_t fileSystem[MAX_PATH + 1] = {};
    if (folder == INVALID_HANDLE_VALUE ||
        !::GetVolumeInformationByHandleW(folder, nullptr, 0, nullptr, nullptr, nullptr, fileSystem,
                                         MAX_PATH + 1))
        return false;
    FILE_REMOTE_PROTOCOL_INFO remote{};
    if (::GetFileInformationByHandleEx(folder, FileRemoteProtocolInfo, &remote, sizeof remote))
        return false; // a share, whatever the server's file system
    for (const wchar_t *local : {L"NTFS", L"ReFS", L"FAT", L"FAT32", L"exFAT"})
        if (std::wcscmp(fileSystem, local) == 0)
            return true;
    return false;
}

// Never reached, as no ring is made; here so that the scan's ring path builds unchanged.
FileRing::FileRing(unsigned slotCount, size_t pieceSize, RingFaults faults)
    : slotCount_(slotCount), pieceSize_(pieceSize), faults_(faults), broken_(true) {}
FileRing::~FileRing() = default;
bool FileRing::start(int, const char *, int, size_t) {
    return false;
}
void FileRing::cancelAll() {}
std::vector<size_t> FileRing::inFlight() const {
    return {};
}
const std::vector<RingRead> &FileRing::collectFinished(std::chrono::milliseconds) {
    return finished_;
}

} // namespace orvantis
