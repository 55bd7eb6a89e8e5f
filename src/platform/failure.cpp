#include "platform/failure.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>

namespace orvantis {

QString systemErrorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

Failure systemFailure(int error, const QString &subject) {
    int32_t number = kDeviceIoError;
    if (error == EACCES || error == EPERM)
        number = kPermissionDenied;
    else if (error == EMFILE || error == ENFILE)
        number = kTooManyFiles;
    else if (error == ENOMEM || error == EAGAIN)
        number = kOutOfMemory;
    return Failure(number, subject + QStringLiteral(": ") + systemErrorText(error));
}

QString describeError(const std::exception &error) {
    if (const auto *failure = dynamic_cast<const Failure *>(&error))
        return failure->description();
    if (dynamic_cast<const std::bad_alloc *>(&error))
        return QStringLiteral("Out of memory");
    if (const auto *system = dynamic_cast<const std::system_error *>(&error))
        return QString::fromLocal8Bit(system->what());
    return QString::fromLocal8Bit(error.what());
}

} // namespace orvantis
