#pragma once

namespace orvantis {

// Readies standard output and error for the program's bytes, before anything is written: on
// Windows they are put in binary mode, so that the ranking's bytes are the same as on Linux (no
// line end made CR LF), and a console is told to show them as UTF-8. Nothing to do on Linux.
void prepareStandardStreams();

} // namespace orvantis
