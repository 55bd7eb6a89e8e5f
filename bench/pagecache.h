#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace orvantis::bench {

// The names of the entries of a folder that do not start with a dot.
inline std::vector<std::string> folderNames(const std::string &folder) {
    std::vector<std::string> names;
    if (DIR *dir = ::opendir(folder.c_str())) {
        while (const dirent *entry = ::readdir(dir))
            if (entry->d_name[0] != '.')
                names.emplace_back(entry->d_name);
        ::closedir(dir);
    }
    return names;
}

// Drops the cached data of every file in a folder, as after a reboot, so that the next read of
// each comes from the disk. Needs no privileges; directory entries stay cached.
inline void evictFolderData(const std::string &folder) {
    for (const std::string &name : folderNames(folder)) {
        const int fd = ::open((folder + name).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

} // namespace orvantis::bench
