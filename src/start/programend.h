#pragma once

#include <functional>

namespace orvantis {

// Runs `program` and gives its status. Whatever escapes it, short of memory or threads too,
// ends the program with a line that says why, as `name`, and kExitUnhandledError: never an
// abort.
int runGuarded(const char *name, const std::function<int()> &program);

// Runs the event loop until the program is ended, and gives the status it was ended with.
// `stop` then stops the work of the program's other threads; when it cannot (a read held by a
// call into the system that does not return), the process ends at once, not waiting for it.
int runEventLoop(const std::function<bool()> &stop);

} // namespace orvantis
