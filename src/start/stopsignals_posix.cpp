#include "start/stopsignals.h"

#include "platform/exitstatus.h"
#include "platform/failure.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>

namespace orvantis {

// The signals are taken from a descriptor rather than by a handler, blocked in every thread the
// program starts from here on.
struct StopSignals::State {
    int fd = -1;
    std::unique_ptr<QSocketNotifier> notifier;
};

StopSignals::StopSignals() : state_(std::make_unique<State>()) {
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGINT);
    sigaddset(&stopping, SIGTERM);
    if (::pthread_sigmask(SIG_BLOCK, &stopping, nullptr) != 0 ||
        (state_->fd = ::signalfd(-1, &stopping, SFD_CLOEXEC | SFD_NONBLOCK)) < 0)
        throw systemFailure(errno, QStringLiteral("Cannot wait for SIGINT and SIGTERM"));
    state_->notifier = std::make_unique<QSocketNotifier>(state_->fd, QSocketNotifier::Read);
    QObject::connect(state_->notifier.get(), &QSocketNotifier::activated,
                     [] { QCoreApplication::exit(kExitSuccess); });
}

StopSignals::~StopSignals() {
    state_->notifier.reset();
    ::close(state_->fd);
}

} // namespace orvantis
