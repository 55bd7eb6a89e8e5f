// orvantis-rawread FOLDER [THREADS]: lists FOLDER/accounts and opens, reads and closes every file
// in it with blocking calls, on THREADS threads (1 when not given), and prints nothing: the least
// a program that ranks the folder must do, read the plain way.
// orvantis-rawread --evict FOLDER: drops the cached data of every file in FOLDER/accounts, as
// after a reboot, for data-cold measurements.
#include "pagecache.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char *argv[]) {
    if (argc == 3 && std::string(argv[1]) == "--evict") {
        orvantis::bench::evictFolderData(std::string(argv[2]) + "/accounts/");
        return 0;
    }
    const int threads = argc == 3 ? std::atoi(argv[2]) : 1;
    if (argc < 2 || argc > 3 || threads < 1) {
        std::fputs("usage: orvantis-rawread FOLDER [THREADS]\n", stderr);
        return 2;
    }
    const std::string accounts = std::string(argv[1]) + "/accounts/";
    const std::vector<std::string> names = orvantis::bench::folderNames(accounts);
    std::atomic<size_t> next{0}, bytes{0};
    const auto read = [&] {
        std::vector<char> buffer(64 * 1024);
        size_t mine = 0;
        for (size_t i; (i = next.fetch_add(1)) < names.size();) {
            const int fd = ::open((accounts + names[i]).c_str(), O_RDONLY | O_CLOEXEC);
            for (ssize_t got; (got = ::read(fd, buffer.data(), buffer.size())) > 0;)
                mine += static_cast<size_t>(got);
            ::close(fd);
        }
        bytes += mine;
    };
    std::vector<std::thread> others;
    for (int t = 1; t < threads; ++t)
        others.emplace_back(read);
    read();
    for (std::thread &t : others)
        t.join();
    return bytes > 0 ? 0 : 1;
}
