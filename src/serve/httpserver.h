#pragma once

#include "serve/eventstream.h"
#include "serve/router.h"
#include "serve/serveoptions.h"
#include "serve/snapshot.h"

#include <QByteArray>
#include <QString>

#include <memory>

struct MHD_Connection;
struct MHD_Daemon;

namespace orvantis {

// The server's HTTP, through libmicrohttpd: its threads (one per core, each with its epoll) take
// requests on a listening socket and answer them from the current snapshot of the ranking, read
// whole by each request and swapped as one; the event stream's clients wait parked, costing no
// thread, until an event is due. Every limit on clients is libmicrohttpd's own, set from
// ServeLimits.
class HttpServer {
public:
    // Serves on `listenFd` (bound and listening; the server closes it), from `snapshot` until
    // another is published. Nothing, and the reason in `error`, when the server cannot start.
    static std::unique_ptr<HttpServer> start(int listenFd, bool ipv6, const ServeLimits &limits,
                                             std::shared_ptr<const Snapshot> snapshot,
                                             QString &error);
    // Ends every event stream and stops serving.
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Serves `snapshot` from now on, and sends its event to the event stream's clients.
    void publish(std::shared_ptr<const Snapshot> snapshot, const QByteArray &event,
                 const QByteArray &data);
    // Sends the event stream's clients a heartbeat (see EventStream::heartbeat).
    void heartbeat() { events_.heartbeat(); }
    static constexpr int kHeartbeatMs = 15000;

    size_t eventClients() const { return events_.clients(); }

    // Answers a request read whole: whether it was answered (libmicrohttpd's result).
    int answer(MHD_Connection *connection, const HttpRequest &request);

private:
    explicit HttpServer(std::shared_ptr<const Snapshot> snapshot);
    int streamEvents(MHD_Connection *connection, const HttpResponse &response);

    std::shared_ptr<const Snapshot> snapshot_; // read and swapped with std::atomic_load/store
    PageFiles files_;
    EventStream events_;
    MHD_Daemon *daemon_ = nullptr;
};

} // namespace orvantis
