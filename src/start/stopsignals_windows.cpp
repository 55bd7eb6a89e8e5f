#include "start/stopsignals.h"

#include "platform/exitstatus.h"
#include "platform/failure.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <windows.h>

namespace orvantis {

namespace {

// Called on a thread of the system's: the exit is posted to the event loop.
BOOL WINAPI stopOnControl(DWORD) {
    if (QCoreApplication *application = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            application, [] { QCoreApplication::exit(kExitSuccess); }, Qt::QueuedConnection);
    return TRUE;
}

} // namespace

struct StopSignals::State {};

StopSignals::StopSignals() : state_(std::make_unique<State>()) {
    if (!::SetConsoleCtrlHandler(&stopOnControl, TRUE))
        throw Failure(kDeviceIoError, QStringLiteral("Cannot wait for Ctrl+C"));
}

StopSignals::~StopSignals() {
    ::SetConsoleCtrlHandler(&stopOnControl, FALSE);
}

} // namespace orvantis
