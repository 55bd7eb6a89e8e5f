#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace orvantis {

// What the window's command line asks for.
struct WindowRequest {
    QString programFolder; // the folder that holds "accounts"; the program's when empty
    bool watch = false;    // follow the folder's changes from the start
};

// The window's name in its messages and --version, and its --help.
extern const char kWindowProgram[];
extern const char kWindowUsage[];

// Reads the command line (the program's name first) into `request`, before any window exists,
// so that --help, --version and bad usage need no display. After --help or --version, which it
// prints, gives kExitSuccess; on bad usage, which it says on standard error, kExitUsage; else
// nothing, to go on.
std::optional<int> readWindowCommandLine(const QStringList &arguments, WindowRequest &request);

// Gives the application the program's name and its icon, in every size.
void setApplicationLook();

} // namespace orvantis
