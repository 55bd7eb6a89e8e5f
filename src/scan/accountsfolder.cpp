#include "scan/accountsfolder.h"

#include "scan/filenames.h"
#include "scan/folderfiles.h"

#include <cstring>

namespace orvantis {

// The entry is looked for by reading the folder, so that its name as stored on disk is what is
// compared, also on a file system that ignores letter case.
bool accountsFolderFound(const QString &programFolder) {
    FolderEntries entries(encodeFileName(programFolder));
    while (const dirent *entry = entries.next())
        if (std::strcmp(entry->d_name, "accounts") == 0)
            return true;
    return false;
}

} // namespace orvantis
