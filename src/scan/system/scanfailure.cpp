#include "scan/system/scanfailure.h"

#include "platform/failure.h"

#include <cerrno>
#include <exception>
#include <new>

namespace orvantis {

ScanFailure systemScanFailure(ScanFailure::What what, int error, const QString &path,
                              const QString &subject) {
    const Failure failure = systemFailure(error, subject);
    return {what, path, error, failure.description(), failure.number()};
}

ScanFailure currentFailure() noexcept {
    try {
        try {
            throw;
        } catch (const Failure &failure) {
            const ScanFailure::What what =
                failure.number() == kOutOfMemory ? ScanFailure::OutOfMemory : ScanFailure::Other;
            return {what, QString(), 0, failure.description(), failure.number()};
        } catch (const std::bad_alloc &) {
            return {ScanFailure::OutOfMemory, QString(), ENOMEM, QStringLiteral("Out of memory"),
                    0};
        } catch (const std::exception &error) {
            return {ScanFailure::Other, QString(), 0, describeError(error), 0};
        } catch (...) {
            return {ScanFailure::Other, QString(), 0, QStringLiteral("An unknown error"), 0};
        }
    } catch (...) { // not even the text could be made
        return {ScanFailure::OutOfMemory, QString(), ENOMEM, QString(), 0};
    }
}

} // namespace orvantis
