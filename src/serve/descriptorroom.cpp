#include "serve/descriptorroom.h"

#include <sys/resource.h>

#include <algorithm>

namespace orvantis {

namespace {

// Kept from clients: a whole read of the folder keeps up to a few hundred files open at once,
// though it makes do with fewer, and each of the server's threads holds an epoll and a wake-up
// descriptor.
constexpr uint64_t kKept = 256;

} // namespace

DescriptorRoom roomForConnections(unsigned asked) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return {asked, 0, false};
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    const uint64_t descriptors = limit.rlim_cur;
    if (limit.rlim_cur == RLIM_INFINITY)
        return {asked, descriptors, false};
    const uint64_t kept = std::min(kKept, descriptors / 2);
    const uint64_t room = descriptors - kept;
    if (room >= asked)
        return {asked, descriptors, false};
    return {static_cast<unsigned>(std::max<uint64_t>(1, room)), descriptors, true};
}

} // namespace orvantis
