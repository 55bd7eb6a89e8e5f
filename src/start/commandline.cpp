#include "start/commandline.h"

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>
#endif

namespace orvantis {

QStringList commandLineArguments(int argc, char *argv[]) {
    QStringList arguments;
#ifdef _WIN32
    int count = 0;
    if (wchar_t **wide = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i)
            arguments << QString::fromWCharArray(wide[i]);
        ::LocalFree(wide);
        return arguments;
    }
#endif
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

} // namespace orvantis
