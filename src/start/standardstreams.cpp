#include "start/standardstreams.h"

#ifdef _WIN32
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#endif

namespace orvantis {

void prepareStandardStreams() {
#ifdef _WIN32
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
    ::SetConsoleOutputCP(CP_UTF8);
#endif
}

void useStartingConsole() {
#ifdef _WIN32
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if ((output == nullptr || output == INVALID_HANDLE_VALUE) &&
        ::AttachConsole(ATTACH_PARENT_PROCESS)) {
        std::freopen("CONOUT$", "w", stdout);
        std::freopen("CONOUT$", "w", stderr);
        ::SetConsoleOutputCP(CP_UTF8);
    }
#endif
}

} // namespace orvantis
