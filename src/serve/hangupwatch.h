#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace orvantis {

// Tells at once when the far end of a connection hangs up. libmicrohttpd does not poll a parked
// (suspended) connection, so an event stream's client that went away would be found out only
// when the next heartbeat is written to it, and its socket would stay in CLOSE-WAIT until then.
// This watch keeps the sockets of parked streams in an epoll set of its own, waiting for
// EPOLLRDHUP (the peer's FIN), EPOLLHUP or EPOLLERR (a reset), and on its own thread calls the
// `gone` of a socket that has them, once.
class HangupWatch {
public:
    // A watch with its thread running, or nothing and the reason in `error`.
    static std::unique_ptr<HangupWatch> start(QString &error);
    ~HangupWatch();
    HangupWatch(const HangupWatch &) = delete;
    HangupWatch &operator=(const HangupWatch &) = delete;

    // Watches `fd` until forgotten: `gone` is called once, on the watch's thread (so what it
    // holds must outlive the watch, or be held weakly). 0 when the socket cannot be watched.
    uint64_t watch(int fd, std::function<void()> gone);
    void forget(uint64_t id);

private:
    HangupWatch(int epoll, int stop);
    void run();

    struct Watched {
        int fd;
        std::function<void()> gone;
    };
    const int epoll_;
    const int stop_; // an eventfd written to end the thread
    std::mutex lock_;
    std::map<uint64_t, Watched> watched_;
    std::map<int, uint64_t> idOfFd_; // which watch a descriptor's number is now
    uint64_t nextId_ = 1;
    std::thread thread_;
};

} // namespace orvantis
