// orvantis-ringread FOLDER [READS_IN_FLIGHT]: lists FOLDER/accounts and opens, reads the first
// 64 KiB of and closes every file in it through one io_uring, with READS_IN_FLIGHT files in it
// at once (64 when not given), and prints nothing: the least a program that ranks the folder
// must do, read the way the scan reads.
#include "pagecache.h"
#include "scan/reading/inifiles.h"
#include "scan/system/filering.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char *argv[]) {
    const int inFlight = argc == 3 ? std::atoi(argv[2]) : 64;
    if (argc < 2 || argc > 3 || inFlight < 1) {
        std::fputs("usage: orvantis-ringread FOLDER [READS_IN_FLIGHT]\n", stderr);
        return 2;
    }
    const std::string accounts = std::string(argv[1]) + "/accounts/";
    const std::vector<std::string> names = orvantis::bench::folderNames(accounts);
    const int folder = ::open(accounts.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    auto ring =
        orvantis::FileRing::create(static_cast<unsigned>(inFlight), orvantis::kFileReadPiece);
    if (folder < 0 || !ring) {
        std::fputs("orvantis-ringread: no io_uring here, or no such folder\n", stderr);
        return 1;
    }
    size_t next = 0, bytes = 0;
    while (next < names.size() || ring->busy() > 0) {
        while (next < names.size() && ring->hasFreeSlot() &&
               ring->start(folder, names[next].c_str(), orvantis::kIniOpenFlags, next))
            ++next;
        ring->collect(std::chrono::milliseconds(50), [&](const orvantis::RingRead &read) {
            if (read.result > 0)
                bytes += static_cast<size_t>(read.result);
        });
    }
    return bytes > 0 ? 0 : 1;
}
