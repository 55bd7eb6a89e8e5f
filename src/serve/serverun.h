#pragma once

#include "serve/serveoptions.h"

namespace orvantis {

// Serves the accounts folder as `request` asks: reads its TLS files, listens on its addresses
// and follows the folder until a stop signal ends the program. Gives the status it ends with.
int serveFolder(const ServeRequest &request);

} // namespace orvantis
