#pragma once

namespace orvantis {

// Readies standard output and error for the program's bytes, before anything is written: on
// Windows they are put in binary mode, so that the ranking's bytes are the same as on Linux (no
// line end made CR LF), and a console is told to show them as UTF-8. Nothing to do on Linux.
void prepareStandardStreams();

// A Windows program of the window subsystem starts with no standard output or error: they are
// given the console it was started from, if any, so that its --help and its complaints about
// the command line are seen there. Output redirected to a file or pipe is kept. Nothing to do on
// Linux.
void useStartingConsole();

} // namespace orvantis
