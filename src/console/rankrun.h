#pragma once

#include "console/rankcommandline.h"

namespace orvantis {

// Reads the accounts folder through the follower and publishes its ranking; with --watch,
// publishes it again after every change, until a stop signal ends the program. Gives the status
// the program ends with.
int rankFolder(const RankRequest &request);

} // namespace orvantis
