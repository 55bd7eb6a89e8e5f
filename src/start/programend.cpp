#include "start/programend.h"

#include "platform/exitstatus.h"
#include "platform/failure.h"
#include "start/complaint.h"

#include <QCoreApplication>

#include <cstdlib>
#include <exception>

namespace orvantis {

int runGuarded(const char *name, const std::function<int()> &program) {
    try {
        return program();
    } catch (const std::exception &error) {
        complain(name, describeError(error));
        return kExitUnhandledError;
    }
}

int runEventLoop(const std::function<bool()> &stop) {
    const int status = QCoreApplication::exec();
    if (!stop())
        std::_Exit(status);
    return status;
}

} // namespace orvantis
