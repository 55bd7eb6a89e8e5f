// orvantis-rawread FOLDER: lists FOLDER/accounts and opens, reads and closes every file in it,
// one after another, and prints nothing: the least a program that ranks the folder must do.
#include "pagecache.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

int main(int argc, char *argv[]) {
    if (argc != 2) {
        std::fputs("usage: orvantis-rawread FOLDER\n", stderr);
        return 2;
    }
    const std::string accounts = std::string(argv[1]) + "/accounts/";
    char buffer[64 * 1024];
    size_t bytes = 0;
    for (const std::string &name : orvantis::bench::folderNames(accounts)) {
        const int fd = ::open((accounts + name).c_str(), O_RDONLY | O_CLOEXEC);
        for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
            bytes += static_cast<size_t>(got);
        ::close(fd);
    }
    return bytes > 0 ? 0 : 1;
}
