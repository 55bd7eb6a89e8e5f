#pragma once

#include <QObject>

#include <functional>

namespace orvantis {

// Tells when a file system is mounted or unmounted anywhere the process can see, so that a
// folder's path can be looked at again at once: Linux reports it on /proc/self/mountinfo.
// Elsewhere it tells nothing, and a follower's regular look at its path has to do.
class MountWatch {
public:
    // Calls `changed` on the thread that made it, its notifier a child of `parent`.
    MountWatch(QObject *parent, std::function<void()> changed);
    ~MountWatch();
    MountWatch(const MountWatch &) = delete;
    MountWatch &operator=(const MountWatch &) = delete;

private:
    void readAll();
    int fd_ = -1;
    QObject *notifier_ = nullptr;
};

} // namespace orvantis
