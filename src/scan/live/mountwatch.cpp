#include "scan/live/mountwatch.h"

#ifdef __linux__
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>
#endif

namespace orvantis {

#ifdef __linux__

// The mount table reports a change as an exceptional condition on a descriptor that has read
// it; reading it whole again waits for the next.
MountWatch::MountWatch(QObject *parent, std::function<void()> changed)
    : fd_(::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC)) {
    if (fd_ < 0)
        return; // no /proc: the path is looked at on a timer only
    readAll();
    auto *notifier = new QSocketNotifier(fd_, QSocketNotifier::Exception, parent);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [this, changed = std::move(changed)] {
                         readAll();
                         changed();
                     });
    notifier_ = notifier;
}

MountWatch::~MountWatch() {
    delete notifier_;
    if (fd_ >= 0)
        ::close(fd_);
}

void MountWatch::readAll() {
    char buffer[16 * 1024];
    ::lseek(fd_, 0, SEEK_SET);
    while (::read(fd_, buffer, sizeof buffer) > 0) {
    }
}

#else

MountWatch::MountWatch(QObject *, std::function<void()>) {}
MountWatch::~MountWatch() = default;
void MountWatch::readAll() {}

#endif

} // namespace orvantis
