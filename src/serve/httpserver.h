#pragma once

#include "serve/clientaddress.h"
#include "serve/clientcounts.h"
#include "serve/eventstream.h"
#include "serve/hangupwatch.h"
#include "serve/listensocket.h"
#include "serve/ratedlog.h"
#include "serve/router.h"
#include "serve/searchgate.h"
#include "serve/searchthread.h"
#include "serve/serveoptions.h"
#include "serve/snapshot.h"
#include "serve/tlsfiles.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

struct MHD_Connection;
struct MHD_Daemon;

namespace orvantis {

// The server's HTTP, through libmicrohttpd: for each listening socket, its threads (one per core,
// each with its epoll) take requests and answer them from the current snapshot of the ranking,
// read whole by each request and swapped as one; the event stream's clients wait parked, costing
// no thread, until an event is due. The limits on clients are set from ServeLimits: those of a
// request's size and time are libmicrohttpd's own; the connections at once, over every socket,
// and those of one address are counted here, where a trusted proxy's clients are told apart.
class HttpServer {
public:
    // Serves on `sockets` (bound and listening; the server closes them), over TLS when `tls`
    // has files, from `snapshot` until another is published; what libmicrohttpd says, such as a
    // client refused by a limit, goes to `log`. Nothing, and the reason in `error`, when the
    // server cannot start.
    static std::unique_ptr<HttpServer> start(const std::vector<ListenSocket> &sockets,
                                             const ServeLimits &limits, const TlsFiles &tls,
                                             std::shared_ptr<const Snapshot> snapshot,
                                             RatedLog *log, QString &error);
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
    // Connections open now, over every socket.
    unsigned connections() const { return connections_.load(); }

    // A search, answered on the search thread while its connection is parked.
    struct Search {
        HttpRequest request;
        std::string address; // of its client, for the limits on searches
        HttpResponse response;
        std::atomic<bool> made{false};
    };
    // What a request holds until it is done: the body its answer sends, its search, and for a
    // client behind a trusted proxy, its place among the requests its address may have open.
    struct Held {
        std::shared_ptr<const Body> body;
        std::unique_ptr<Search> search;
        ClientCounts::Slot open;
    };
    // What the server keeps of a connection while it is open.
    struct Peer {
        ClientAddress address;
        bool counted = false; // against --max-per-address (a trusted proxy's are not)
    };

    // Answers a request read whole: whether it was answered (libmicrohttpd's result). What the
    // answer needs kept until the request is done is put in `held`, a Held.
    int answer(MHD_Connection *connection, const HttpRequest &request, void **held);
    // Sends the answer of a search once its connection is resumed.
    int searched(MHD_Connection *connection, Held &held);
    // Refuses a request that is not to be served, saying why, and closes its connection.
    int refuse(MHD_Connection *connection, int status, const QString &why);
    // For libmicrohttpd's callbacks: whether a client at `address` may connect; a connection
    // opened (its socket `fd`) or closed; a request it refused itself; a line it logs.
    bool mayConnect(const ClientAddress &address);
    Peer *connectionOpened(int fd, const ClientAddress &address);
    void connectionClosed(Peer *peer);
    void requestFailed(MHD_Connection *connection);
    void libraryLogged(const QString &line);

private:
    HttpServer(std::shared_ptr<const Snapshot> snapshot, const ServeLimits &limits,
               const TlsFiles &tls, RatedLog *log);
    // The client a request comes from: its peer, or the one a trusted proxy names.
    ClientAddress clientOf(MHD_Connection *connection) const;
    void sayOfClient(const ClientAddress &client, const QString &what);
    int answerFromSnapshot(MHD_Connection *connection, const HttpRequest &request, void **held);
    int send(MHD_Connection *connection, const HttpResponse &response, void **held);
    int streamEvents(MHD_Connection *connection, const HttpResponse &response);

    std::shared_ptr<const Snapshot> snapshot_; // read and swapped with std::atomic_load/store
    PageFiles files_;
    EventStream events_;
    ServeLimits limits_;
    TlsFiles tls_; // kept for as long as the daemons read them
    RatedLog *log_;
    std::atomic<unsigned> connections_{0};
    ClientCounts openByAddress_; // connections, or a proxied client's requests
    // The place under the one-address limit each serving thread took for the connection it
    // opens next.
    std::mutex takenLock_;
    std::unordered_map<std::thread::id, std::string> taken_;
    std::unique_ptr<HangupWatch> hangups_; // of parked event streams
    SearchGate searches_;
    SearchThread searchThread_;
    std::vector<MHD_Daemon *> daemons_;
};

} // namespace orvantis
