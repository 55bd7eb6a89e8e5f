#include "scan/accountsfolder.h"

#include "scan/filenames.h"

#include <dirent.h>
#include <cstring>

namespace orvantis {

// The entry is looked for by reading the folder, so that its name as stored on disk is what is
// compared, also on a file system that ignores letter case.
bool accountsFolderFound(const QString &programFolder) {
    DIR *dir = ::opendir(encodeFileName(programFolder.isEmpty() ? QStringLiteral(".") : programFolder).constData());
    if (!dir)
        return false;
    bool found = false;
    while (const dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, "accounts") == 0) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

} // namespace orvantis
