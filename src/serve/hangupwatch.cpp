#include "serve/hangupwatch.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace orvantis {

std::unique_ptr<HangupWatch> HangupWatch::start(QString &error) {
    const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
    const int stop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event stopEvent{};
    stopEvent.events = EPOLLIN;
    stopEvent.data.u64 = 0; // no watch has the id 0
    if (epoll < 0 || stop < 0 || ::epoll_ctl(epoll, EPOLL_CTL_ADD, stop, &stopEvent) != 0) {
        error = QStringLiteral("cannot watch event streams for clients that hang up: %1")
                    .arg(QString::fromLocal8Bit(std::strerror(errno)));
        if (epoll >= 0)
            ::close(epoll);
        if (stop >= 0)
            ::close(stop);
        return nullptr;
    }
    std::unique_ptr<HangupWatch> watch(new HangupWatch(epoll, stop));
    watch->thread_ = std::thread([raw = watch.get()] { raw->run(); });
    return watch;
}

HangupWatch::HangupWatch(int epoll, int stop) : epoll_(epoll), stop_(stop) {}

HangupWatch::~HangupWatch() {
    const uint64_t one = 1;
    if (::write(stop_, &one, sizeof one) == sizeof one && thread_.joinable())
        thread_.join();
    else if (thread_.joinable())
        thread_.detach(); // cannot happen with an eventfd; never leave a thread to terminate
    ::close(epoll_);
    ::close(stop_);
}

uint64_t HangupWatch::watch(int fd, std::function<void()> gone) {
    const std::lock_guard<std::mutex> guard(lock_);
    const uint64_t id = nextId_++;
    epoll_event event{};
    // One-shot: a socket is reported once, however long its watch takes to be forgotten.
    event.events = EPOLLRDHUP | EPOLLONESHOT;
    event.data.u64 = id;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0)
        return 0;
    watched_.emplace(id, Watched{fd, std::move(gone)});
    idOfFd_[fd] = id;
    return id;
}

void HangupWatch::forget(uint64_t id) {
    const std::lock_guard<std::mutex> guard(lock_);
    const auto found = watched_.find(id);
    if (found == watched_.end())
        return;
    const int fd = found->second.fd;
    // The descriptor may have been closed, and its number given to a socket watched since: only
    // the watch that holds the number now takes it out of the set.
    const auto owner = idOfFd_.find(fd);
    if (owner != idOfFd_.end() && owner->second == id) {
        ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
        idOfFd_.erase(owner);
    }
    watched_.erase(found);
}

void HangupWatch::run() {
    epoll_event events[64];
    for (;;) {
        const int ready = ::epoll_wait(epoll_, events, 64, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return; // cannot happen with a valid set; hangups are then found at the heartbeat
        std::vector<std::function<void()>> gone;
        {
            const std::lock_guard<std::mutex> guard(lock_);
            for (int i = 0; i < ready; ++i) {
                if (events[i].data.u64 == 0)
                    return;
                const auto found = watched_.find(events[i].data.u64);
                if (found != watched_.end())
                    gone.push_back(std::move(found->second.gone));
            }
        }
        for (const auto &call : gone)
            call();
    }
}

} // namespace orvantis
