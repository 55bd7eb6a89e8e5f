#pragma once

#include <QStringList>

namespace orvantis {

// The program's command line, before any QCoreApplication exists: on Linux the arguments as
// given, decoded from the locale's encoding; on Windows the command line as Windows keeps it, in
// UTF-16, so that a folder named in any script arrives whole (argv has the ANSI code page's).
QStringList commandLineArguments(int argc, char *argv[]);

} // namespace orvantis
