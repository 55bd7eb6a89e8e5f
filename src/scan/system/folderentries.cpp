#include "scan/system/folderentries.h"

#include <cerrno>

namespace orvantis {

// Decided here once for both systems; their own files make the entries.
bool FolderEntries::mayBeRegularFile(const FolderEntry &entry) const {
    if (entry.type != FolderEntry::Link && entry.type != FolderEntry::Unknown)
        return entry.type == FolderEntry::File;
    EntryKind target{}; // what the link leads to, or what the file system did not say
    const int error = kindInFolder(descriptor(), entry.name, target);
    if (error == 0)
        return target == EntryKind::RegularFile;
    return error != ENOENT && error != ENOTDIR && error != ELOOP;
}

} // namespace orvantis
