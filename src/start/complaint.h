#pragma once

#include <QString>

namespace orvantis {

// One line on standard error after the program's name, "orvantis-rank: why"; the message starts
// in lower case there. Names from the folder may hold anything: control characters are escaped,
// so that each message is one line and nothing in it reaches a terminal as a command.
void complain(const char *program, const QString &message);

} // namespace orvantis
