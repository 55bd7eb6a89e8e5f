#pragma once

#include <cstdint>

namespace orvantis {

// How many connections the process's descriptor limit leaves room for, after what the folder's
// reading and watching and the server's own threads keep for themselves, so that a flood of
// clients takes descriptors from no one but other clients. The soft limit is raised to the hard
// one first, as a server should.
struct DescriptorRoom {
    unsigned connections; // the ones asked for, or fewer
    uint64_t limit;       // the descriptor limit, raised as far as it goes
    bool lowered;         // fewer connections than asked for
};
DescriptorRoom roomForConnections(unsigned asked);

} // namespace orvantis
