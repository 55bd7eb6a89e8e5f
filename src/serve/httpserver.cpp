#include "serve/httpserver.h"

#include <microhttpd.h>

#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace orvantis {

namespace {

int firstCall; // marks a request whose headers have come, before its answer

// A request refused for its target as sent, before libmicrohttpd reads its parameters.
struct RefusedTarget {
    int status;
    const char *why;
};
constexpr size_t kLongestTarget = 8 * 1024;
constexpr long kMostParameters = 64;
const RefusedTarget kTargetTooLong{414, "A request's target is at most 8 KiB"};
const RefusedTarget kTooManyParameters{400, "A request has at most 64 parameters"};
const RefusedTarget kTargetNotOneWord{400, "A request's target has no spaces or control bytes"};

bool refusedTarget(const void *state) {
    return state == &kTargetTooLong || state == &kTooManyParameters || state == &kTargetNotOneWord;
}

// Called with a request's target as sent, before its parameters are read: what the request is
// then refused for, or nothing. libmicrohttpd 0.9.75 keeps each parameter in the connection's
// memory, and when they outgrow it, queues its 431 and then loses it, leaving the client
// unanswered until the idle timeout. So a refused target's parameters are cut off here, in
// place (libmicrohttpd reads them from this buffer next), and the refusal is answered instead.
void *readTarget(void *, const char *target, MHD_Connection *) {
    const char *end = target + std::strlen(target);
    const char *query = std::find(target, end, '?');
    const RefusedTarget *refused = nullptr;
    if (end - target > static_cast<ptrdiff_t>(kLongestTarget))
        refused = &kTargetTooLong;
    else if (query != end && std::count(query, end, '&') >= kMostParameters)
        refused = &kTooManyParameters;
    else if (std::any_of(target, end, [](unsigned char c) { return c <= ' ' || c == 0x7f; }))
        refused = &kTargetNotOneWord;
    if (refused && query != end)
        const_cast<char *>(query)[1] = '\0';
    return const_cast<RefusedTarget *>(refused);
}

// Connections libmicrohttpd may take beyond the limit, to be refused by mayConnect.
constexpr unsigned kLimitSlack = 64;

// Bodies are shared: each response holds a share of its own for as long as it is sent.
void letGoOfBody(void *share) {
    delete static_cast<std::shared_ptr<const Body> *>(share);
}

// A request is done (answered whole, or its connection gone): what it held is let go.
void requestDone(void *self, MHD_Connection *connection, void **state,
                 MHD_RequestTerminationCode how) {
    // Ended in an error before it was handed over: libmicrohttpd refused it. (One that was, and
    // ended so, lost its connection: a client gone, said by no line.)
    if (how == MHD_REQUEST_TERMINATED_WITH_ERROR && *state == nullptr)
        static_cast<HttpServer *>(self)->requestFailed(connection);
    if (*state != nullptr && *state != &firstCall && !refusedTarget(*state))
        delete static_cast<HttpServer::Held *>(*state);
    *state = nullptr;
}

// What an event stream's response reads from.
struct EventFeed {
    std::shared_ptr<EventClient> client;
    MHD_Connection *connection;
    HangupWatch *watch;
    uint64_t watched; // its id in `watch`, or 0
};

ssize_t readEvents(void *feed, uint64_t, char *buffer, size_t room) {
    auto *events = static_cast<EventFeed *>(feed);
    const int64_t got = events->client->read(buffer, room, [events] {
        MHD_suspend_connection(events->connection); // nothing due: parked, costing no thread
    });
    return got == EventClient::kEnd ? MHD_CONTENT_READER_END_OF_STREAM : static_cast<ssize_t>(got);
}

void letGoOfEvents(void *feed) {
    auto *events = static_cast<EventFeed *>(feed);
    if (events->watched != 0)
        events->watch->forget(events->watched);
    delete events;
}

// Queues an answer of its own (not one prepared for its body): the body is held until sent.
int answerWith(MHD_Connection *connection, const HttpResponse &response) {
    const QByteArray &bytes = response.bytes();
    auto *share = new std::shared_ptr<const Body>(response.body);
    MHD_Response *made = MHD_create_response_from_buffer_with_free_callback_cls(
        static_cast<size_t>(bytes.size()), const_cast<char *>(bytes.constData()), &letGoOfBody,
        share);
    if (!made) {
        delete share;
        return MHD_NO;
    }
    for (const auto &[name, value] : response.headers)
        MHD_add_response_header(made, name.constData(), value.constData());
    const MHD_Result queued =
        MHD_queue_response(connection, static_cast<unsigned>(response.status), made);
    MHD_destroy_response(made);
    return queued;
}

// A parameter with every byte of its value, a NUL (%00) among them.
MHD_Result addParameter(void *parameters, MHD_ValueKind, const char *key, size_t, const char *value,
                        size_t valueSize) {
    static_cast<QueryParameters *>(parameters)
        ->emplace_back(key,
                       value ? QByteArray(value, static_cast<qsizetype>(valueSize)) : QByteArray());
    return MHD_YES;
}

// The headers that frame a request, as many times as each was sent.
struct Framing {
    int hosts = 0;
    int unnamed = 0; // headers whose names are not one word
    QList<QByteArray> contentLengths;
    QList<QByteArray> transferEncodings;
};

MHD_Result noteFraming(void *framing, MHD_ValueKind, const char *key, const char *value) {
    auto &seen = *static_cast<Framing *>(framing);
    const QByteArray name = QByteArray(key).toLower();
    // A name with a space or control byte: "Host : a" (a proxy may take it for Host) or worse.
    if (std::any_of(name.cbegin(), name.cend(),
                    [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == 0x7f; }))
        ++seen.unnamed;
    if (name == "host")
        ++seen.hosts;
    else if (name == "content-length")
        seen.contentLengths << QByteArray(value ? value : "").trimmed();
    else if (name == "transfer-encoding")
        seen.transferEncodings << QByteArray(value ? value : "").trimmed().toLower();
    return MHD_YES;
}

// Why a request is not to be answered as it stands, which libmicrohttpd lets through: an
// HTTP/1.1 request without one Host, a header whose name is not one word, lengths that differ,
// an encoding of the body it does not undo, or both a length and an encoding (a proxy in front
// may have framed the request otherwise, and the bytes after it would be taken for another
// request). Empty when it is well formed.
QString malformed(MHD_Connection *connection, const char *version) {
    Framing framing;
    MHD_get_connection_values(connection, MHD_HEADER_KIND, &noteFraming, &framing);
    if (framing.unnamed > 0)
        return QStringLiteral("A header's name has no spaces or control bytes");
    if (qstrcmp(version, MHD_HTTP_VERSION_1_1) == 0 && framing.hosts != 1)
        return framing.hosts == 0 ? QStringLiteral("An HTTP/1.1 request names its Host")
                                  : QStringLiteral("A request names one Host");
    for (const QByteArray &length : framing.contentLengths)
        if (length != framing.contentLengths.front())
            return QStringLiteral("A request has one Content-Length");
    for (const QByteArray &encoding : framing.transferEncodings)
        if (encoding != "chunked")
            return QStringLiteral("A Transfer-Encoding other than chunked is not taken");
    if (!framing.transferEncodings.isEmpty() && !framing.contentLengths.isEmpty())
        return QStringLiteral("A request has a Content-Length or a Transfer-Encoding, not both");
    return QString();
}

// The path of a request's target: its own, or that of an absolute URL (which a server must take,
// as a proxy sends it).
QByteArray pathOf(const char *url) {
    QByteArray target(url);
    const qsizetype scheme = target.indexOf("://");
    if (scheme <= 0 || target.startsWith('/'))
        return target;
    const qsizetype path = target.indexOf('/', scheme + 3);
    return path < 0 ? QByteArray("/") : target.mid(path);
}

QByteArray headerOf(MHD_Connection *connection, const char *name) {
    const char *value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
    return value ? QByteArray(value) : QByteArray();
}

// libmicrohttpd's access handler: called once the headers are read, then for each piece of a
// body, then once more when the request is whole.
MHD_Result handle(void *self, MHD_Connection *connection, const char *url, const char *method,
                  const char *version, const char *, size_t *uploadSize, void **state) {
    auto *server = static_cast<HttpServer *>(self);
    if (refusedTarget(*state)) {
        const auto *target = static_cast<const RefusedTarget *>(*state);
        return server->refuse(connection, target->status, QString::fromLatin1(target->why)) ==
                       MHD_YES
                   ? MHD_YES
                   : MHD_NO;
    }
    if (*state != nullptr && *state != &firstCall) // resumed: its search is answered
        return server->searched(connection, *static_cast<HttpServer::Held *>(*state)) == MHD_YES
                   ? MHD_YES
                   : MHD_NO;
    HttpRequest request;
    request.method = method;
    const bool readOnly = request.method == "GET" || request.method == "HEAD";
    if (*state == nullptr) {
        if (const QString why = malformed(connection, version); !why.isEmpty())
            return server->refuse(connection, 400, why) == MHD_YES ? MHD_YES : MHD_NO;
    }
    if (*state == nullptr && readOnly) {
        *state = &firstCall; // the whole request is read before it is answered
        return MHD_YES;
    }
    if (*uploadSize != 0) { // a body sent with a GET is read and let go
        *uploadSize = 0;
        return MHD_YES;
    }
    request.path = pathOf(url);
    MHD_get_connection_values_n(connection, MHD_GET_ARGUMENT_KIND, &addParameter,
                                &request.parameters);
    request.acceptEncoding = headerOf(connection, MHD_HTTP_HEADER_ACCEPT_ENCODING);
    request.ifNoneMatch = headerOf(connection, MHD_HTTP_HEADER_IF_NONE_MATCH);
    request.ifModifiedSince = headerOf(connection, MHD_HTTP_HEADER_IF_MODIFIED_SINCE);
    return server->answer(connection, request, state) == MHD_YES ? MHD_YES : MHD_NO;
}

void noteConnection(void *self, MHD_Connection *connection, void **peer,
                    MHD_ConnectionNotificationCode toe) {
    auto *server = static_cast<HttpServer *>(self);
    if (toe == MHD_CONNECTION_NOTIFY_STARTED) {
        const MHD_ConnectionInfo *fd =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        const MHD_ConnectionInfo *address =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
        *peer = server->connectionOpened(
            fd ? fd->connect_fd : -1, ClientAddress::of(address ? address->client_addr : nullptr));
    } else if (toe == MHD_CONNECTION_NOTIFY_CLOSED) {
        server->connectionClosed(static_cast<HttpServer::Peer *>(*peer));
        *peer = nullptr;
    }
}

// The connections at once, over every socket together, and those of one address are held to
// their limits here: a client beyond one is refused at once, where libmicrohttpd's own limit,
// set a little higher as a backstop, would leave it waiting unanswered in the listening queue.
MHD_Result acceptClient(void *self, const sockaddr *address, socklen_t) {
    return static_cast<HttpServer *>(self)->mayConnect(ClientAddress::of(address)) ? MHD_YES
                                                                                   : MHD_NO;
}

// libmicrohttpd hands over its own printf format; saying so lets the compiler check the call.
__attribute__((format(printf, 2, 0))) void logged(void *self, const char *format,
                                                  va_list arguments) {
    char line[512];
    std::vsnprintf(line, sizeof line, format, arguments);
    static_cast<HttpServer *>(self)->libraryLogged(QString::fromUtf8(line).trimmed());
}

// One serving thread per processor this process may run on: a server pinned to fewer (taskset,
// CPUAffinity=) than the machine has would only switch between threads that wait for each other.
unsigned processorsToRunOn() {
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0)
        return std::max(1, CPU_COUNT(&allowed));
    return std::max(1u, std::thread::hardware_concurrency());
}

// What a request holds, made at its first need.
HttpServer::Held &heldOf(void **held) {
    if (*held == nullptr || *held == &firstCall)
        *held = new HttpServer::Held;
    return *static_cast<HttpServer::Held *>(*held);
}

// What the server keeps of a request's connection (noteConnection), if anything.
const HttpServer::Peer *peerOf(MHD_Connection *connection) {
    const MHD_ConnectionInfo *info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? static_cast<const HttpServer::Peer *>(info->socket_context) : nullptr;
}

// Whether a request came through a trusted proxy.
bool proxied(MHD_Connection *connection) {
    const HttpServer::Peer *peer = peerOf(connection);
    return peer && !peer->counted;
}

} // namespace

HttpServer::HttpServer(std::shared_ptr<const Snapshot> snapshot, const ServeLimits &limits,
                       const TlsFiles &tls, RatedLog *log)
    : snapshot_(std::move(snapshot)), files_(PageFiles::load()), limits_(limits), tls_(tls),
      log_(log), searches_(limits.searches) {
    // The stream begins at the first ranking: a client starts from there.
    events_.publish(snapshot_->generation(), "reload", "{}");
}

bool HttpServer::mayConnect(const ClientAddress &address) {
    const std::thread::id thread = std::this_thread::get_id();
    {
        // A place taken for a connection this thread did not go on to open is given back.
        const std::lock_guard<std::mutex> guard(takenLock_);
        const auto left = taken_.find(thread);
        if (left != taken_.end()) {
            openByAddress_.remove(left->second);
            taken_.erase(left);
        }
    }
    if (connections_.load() >= limits_.connections) {
        sayOfClient(
            address,
            QStringLiteral("refused: %1 connections at once are open").arg(limits_.connections));
        return false;
    }
    if (limits_.trustedProxies.trusts(address))
        return true;
    // The place is taken here, where the limit is asked, so that two threads cannot both take
    // the last; libmicrohttpd opens the connection on this thread next.
    if (!openByAddress_.addBelow(address.key(), limits_.perAddress)) {
        sayOfClient(address, QStringLiteral("refused: %1 connections from its address are open")
                                 .arg(limits_.perAddress));
        return false;
    }
    const std::lock_guard<std::mutex> guard(takenLock_);
    taken_[thread] = address.key();
    return true;
}

HttpServer::Peer *HttpServer::connectionOpened(int fd, const ClientAddress &address) {
    auto *peer = new Peer{address, false};
    {
        const std::lock_guard<std::mutex> guard(takenLock_);
        peer->counted = taken_.erase(std::this_thread::get_id()) > 0;
    }
    if (!peer->counted && !limits_.trustedProxies.trusts(address)) {
        openByAddress_.add(address.key()); // opened without the accept policy: counted all the same
        peer->counted = true;
    }
    ++connections_;
    // A fixed send buffer: the kernel would grow each to megabytes, and a thousand clients that
    // read a byte at a time would have the server copy a whole answer into each.
    const int bytes = static_cast<int>(limits_.sendBuffer);
    if (fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes) != 0 && log_)
        log_->say(QStringLiteral("a connection's send buffer was left as it was: %1")
                      .arg(QString::fromLocal8Bit(std::strerror(errno))));
    return peer;
}

void HttpServer::connectionClosed(Peer *peer) {
    --connections_;
    if (peer && peer->counted)
        openByAddress_.remove(peer->address.key());
    delete peer;
}

ClientAddress HttpServer::clientOf(MHD_Connection *connection) const {
    const Peer *peer = peerOf(connection);
    if (!peer)
        return ClientAddress();
    if (peer->counted) // not a trusted proxy: what it says of others is not believed
        return peer->address;
    QList<QByteArray> forwardedFor;
    MHD_get_connection_values(
        connection, MHD_HEADER_KIND,
        [](void *list, MHD_ValueKind, const char *key, const char *value) {
            if (qstricmp(key, "X-Forwarded-For") == 0 && value)
                static_cast<QList<QByteArray> *>(list)->append(QByteArray(value));
            return MHD_YES;
        },
        &forwardedFor);
    return limits_.trustedProxies.clientOf(peer->address, forwardedFor);
}

void HttpServer::sayOfClient(const ClientAddress &client, const QString &what) {
    if (log_)
        log_->say(QStringLiteral("a client at %1 was %2").arg(client.text(), what));
}

int HttpServer::refuse(MHD_Connection *connection, int status, const QString &why) {
    sayOfClient(clientOf(connection), QStringLiteral("answered %1: %2").arg(status).arg(why));
    HttpResponse refused;
    refused.status = status;
    refused.headers = {{"Content-Type", "text/plain; charset=utf-8"},
                       {"X-Content-Type-Options", "nosniff"},
                       {"Connection", "close"}};
    refused.body = std::make_shared<const Body>(why.toUtf8() + '\n');
    return answerWith(connection, refused);
}

void HttpServer::requestFailed(MHD_Connection *connection) {
    sayOfClient(clientOf(connection),
                QStringLiteral("let go: its request was malformed, or larger than "
                               "--connection-memory allows"));
}

void HttpServer::libraryLogged(const QString &line) {
    // What libmicrohttpd says of one request names no client: the request's end says it, with
    // the client's address (requestFailed).
    static const char *const ofOneRequest[] = {
        "Error processing request",
        "Not enough memory in pool",
        "Failed to parse",
        "Too large value of",
        "Received HTTP/1.1 request without",
        "Too late to send",
        "Failed to send", // a client gone while it is answered: no one to tell
        "Connection was closed by remote side",
        "Socket has been disconnected",
        "Connection socket is closed",
        "Closing connection",
        "Application reported internal error",
        "Error: received handshake message", // a TLS client's own fault
    };
    for (const char *words : ofOneRequest)
        if (line.startsWith(QLatin1String(words)))
            return;
    if (log_)
        log_->say(QStringLiteral("libmicrohttpd: %1").arg(line));
}

std::unique_ptr<HttpServer> HttpServer::start(const std::vector<ListenSocket> &sockets,
                                              const ServeLimits &limits, const TlsFiles &tls,
                                              std::shared_ptr<const Snapshot> snapshot,
                                              RatedLog *log, QString &error) {
    std::unique_ptr<HttpServer> server(new HttpServer(std::move(snapshot), limits, tls, log));
    server->hangups_ = HangupWatch::start(error);
    if (!server->hangups_) {
        for (const ListenSocket &socket : sockets)
            ::close(socket.fd);
        return nullptr;
    }
    const unsigned threads = processorsToRunOn();
    for (size_t i = 0; i < sockets.size(); ++i) {
        const ListenSocket &socket = sockets[i];
        // Turbo reads a connection as soon as it is accepted, not after epoll says so again, and
        // closes without a shutdown() first (the close ends the connection all the same): about
        // a third more answers a second.
        unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_TURBO | MHD_ALLOW_SUSPEND_RESUME |
                         MHD_USE_ERROR_LOG | (socket.ipv6 ? MHD_USE_IPv6 : 0);
        if (tls.any())
            flags |= MHD_USE_TLS;
        // Each limit on purpose: the connections at once (each a descriptor and its memory; the
        // server's own count, and those of one address, hold them first), the time a connection
        // may stall (a slow sender or reader holds nothing longer), the memory of one request
        // (any browser's headers fit; 100 KB of them do not). Listening is the server's own
        // socket.
        MHD_Daemon *daemon = MHD_start_daemon(
            flags, 0, &acceptClient, server.get(), &handle, server.get(),
            MHD_OPTION_EXTERNAL_LOGGER, &logged, server.get(), MHD_OPTION_LISTEN_SOCKET, socket.fd,
            MHD_OPTION_THREAD_POOL_SIZE, threads, MHD_OPTION_CONNECTION_LIMIT,
            limits.connections + kLimitSlack, MHD_OPTION_CONNECTION_TIMEOUT, limits.idleSeconds,
            MHD_OPTION_CONNECTION_MEMORY_LIMIT, limits.connectionMemory,
            MHD_OPTION_NOTIFY_CONNECTION, &noteConnection, server.get(),
            MHD_OPTION_NOTIFY_COMPLETED, &requestDone, server.get(), MHD_OPTION_URI_LOG_CALLBACK,
            &readTarget, nullptr, tls.any() ? MHD_OPTION_HTTPS_MEM_CERT : MHD_OPTION_END,
            server->tls_.certificate.constData(), MHD_OPTION_HTTPS_MEM_KEY,
            server->tls_.key.constData(), MHD_OPTION_END);
        if (!daemon) {
            error = QStringLiteral("cannot start serving on %1 (libmicrohttpd refused its "
                                   "options)")
                        .arg(socket.name);
            for (size_t rest = i; rest < sockets.size(); ++rest)
                ::close(sockets[rest].fd);
            return nullptr;
        }
        server->daemons_.push_back(daemon);
    }
    return server;
}

HttpServer::~HttpServer() {
    if (daemons_.empty())
        return;
    searchThread_.stop(); // each search posted is answered, and its connection resumed
    // A parked connection must be resumed before the daemons stop: each is woken to end.
    events_.end();
    for (int wait = 0; wait < 100 && events_.clients() > 0; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (MHD_Daemon *daemon : daemons_)
        MHD_stop_daemon(daemon);
}

void HttpServer::publish(std::shared_ptr<const Snapshot> snapshot, const QByteArray &event,
                         const QByteArray &data) {
    const uint64_t generation = snapshot->generation();
    std::atomic_store(&snapshot_, std::move(snapshot));
    events_.publish(generation, event, data);
}

int HttpServer::answer(MHD_Connection *connection, const HttpRequest &request, void **held) {
    const ClientAddress client = clientOf(connection);
    if (!limits_.trustedProxies.trusts(client) && proxied(connection)) {
        // Behind a trusted proxy, a client's requests open at once stand for its connections.
        if (!openByAddress_.addBelow(client.key(), limits_.perAddress)) {
            sayOfClient(client, QStringLiteral("refused: %1 requests from its address are open")
                                    .arg(limits_.perAddress));
            return answerWith(connection, tooManyOpen(limits_.perAddress));
        }
        heldOf(held).open = ClientCounts::Slot(&openByAddress_, client.key());
    }
    if (!searches(request))
        return answerFromSnapshot(connection, request, held);
    // A search's work is bounded; how many searches one address has answered is bounded here.
    const std::string searcher = client.key();
    const SearchGate::Verdict verdict = searches_.enter(searcher, SearchGate::Clock::now());
    if (verdict.kind != SearchGate::Verdict::Pass)
        return answerWith(connection,
                          searchRefused(verdict.kind == SearchGate::Verdict::TooManyAtOnce,
                                        verdict.retryAfterSeconds));
    // Made on the search thread, the connection parked meanwhile: this serving thread goes on
    // to other requests, and resumes this one when its answer is made.
    Held *state = &heldOf(held);
    state->search = std::make_unique<Search>();
    state->search->request = request;
    state->search->address = searcher;
    MHD_suspend_connection(connection);
    auto make = [this, connection, search = state->search.get()] {
        const std::shared_ptr<const Snapshot> snapshot = std::atomic_load(&snapshot_);
        try {
            search->response = respond(search->request, *snapshot, files_);
            search->made.store(true, std::memory_order_release);
        } catch (const std::exception &) { // short of memory: this connection is closed
        }
        MHD_resume_connection(connection);
    };
    if (!searchThread_.post(make))
        make(); // the server is stopping: made here
    return MHD_YES;
}

int HttpServer::searched(MHD_Connection *connection, Held &held) {
    const std::unique_ptr<Search> search = std::move(held.search);
    if (!search) // resumed twice: cannot be, and is not answered twice
        return MHD_NO;
    searches_.leave(search->address);
    if (!search->made.load(std::memory_order_acquire))
        return MHD_NO;
    void *state = &held;
    return send(connection, search->response, &state);
}

int HttpServer::answerFromSnapshot(MHD_Connection *connection, const HttpRequest &request,
                                   void **held) {
    const std::shared_ptr<const Snapshot> snapshot = std::atomic_load(&snapshot_);
    HttpResponse response;
    try {
        response = respond(request, *snapshot, files_);
        if (response.eventStream)
            return streamEvents(connection, response);
    } catch (const std::exception &) { // short of memory: this connection is closed, no other
        return MHD_NO;
    }
    return send(connection, response, held);
}

int HttpServer::send(MHD_Connection *connection, const HttpResponse &response, void **held) {
    if (response.way >= 0) {
        // Made once for the body and sent again as it is; the body, and with it the response
        // and the bytes it points into, is held until the request is done.
        void *made = response.body->prepared(response.way, [&response] {
            const QByteArray &bytes = response.bytes();
            MHD_Response *prepared = MHD_create_response_from_buffer_with_free_callback_cls(
                static_cast<size_t>(bytes.size()), const_cast<char *>(bytes.constData()), nullptr,
                nullptr);
            if (prepared)
                for (const auto &[name, value] : response.headers)
                    MHD_add_response_header(prepared, name.constData(), value.constData());
            return std::shared_ptr<void>(
                prepared, [](void *r) { MHD_destroy_response(static_cast<MHD_Response *>(r)); });
        });
        if (made) {
            heldOf(held).body = response.body;
            return MHD_queue_response(connection, static_cast<unsigned>(response.status),
                                      static_cast<MHD_Response *>(made));
        }
    }
    return answerWith(connection, response);
}

int HttpServer::streamEvents(MHD_Connection *connection, const HttpResponse &response) {
    std::optional<uint64_t> lastSeen;
    bool number = false;
    const qulonglong id = headerOf(connection, "Last-Event-ID").toULongLong(&number);
    if (number)
        lastSeen = id;
    auto *feed = new EventFeed{nullptr, connection, hangups_.get(), 0};
    feed->client = events_.connect(
        lastSeen, [connection] { MHD_resume_connection(connection); }, response.serving);
    // A client that hangs up while parked is woken, to end its stream, as soon as it does.
    const MHD_ConnectionInfo *info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (info)
        feed->watched =
            hangups_->watch(info->connect_fd, [client = std::weak_ptr<EventClient>(feed->client)] {
                if (const auto alive = client.lock())
                    alive->hangUp();
            });
    MHD_Response *made = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 4096, &readEvents,
                                                           feed, &letGoOfEvents);
    if (!made) {
        delete feed;
        return MHD_NO;
    }
    for (const auto &[name, value] : response.headers)
        MHD_add_response_header(made, name.constData(), value.constData());
    const MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_OK, made);
    MHD_destroy_response(made);
    return queued;
}

} // namespace orvantis
