#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

namespace orvantis {

class EventClient;

// The server-sent events of /events, for every client at once. Each generation of the ranking is
// one event, kept in a log of the last kKept; each client reads the log from where it is, and
// one that is further behind than the log reaches (it reads too slowly, or comes back after more
// events than are kept) gets one reload event in place of what it missed. So what waits for a
// client is bounded by the log, whatever the client does. A client with nothing to read is
// parked, and woken when there is: an event, a heartbeat, or the end of the stream.
class EventStream {
public:
    static constexpr size_t kKept = 256;

    // Adds the event of a new generation: `name` "change" or "reload", `data` one line of JSON.
    void publish(uint64_t generation, const QByteArray &name, const QByteArray &data);
    // Every client gets a comment line, so that proxies and the client itself know the stream
    // lives, and one that has gone is found out.
    void heartbeat();
    // Every client is woken and ends its stream: the server is stopping.
    void end();

    // A new client, which last saw the event `lastSeen` (its Last-Event-ID), or none: it starts
    // from the latest. `wake` resumes it when it is parked; it is called under the stream's
    // lock, as the client's `park` is. Its stream opens with how long to wait before trying
    // again when the connection is lost, and a "serving" event of the tag of the snapshot served
    // (`serving`, when given): a page that shows another (made before a restart, or before
    // changes it missed) fetches its view again.
    std::shared_ptr<EventClient> connect(std::optional<uint64_t> lastSeen,
                                         std::function<void()> wake,
                                         const QByteArray &serving = {});

    size_t clients() const;

private:
    friend class EventClient;
    struct Event {
        uint64_t generation;
        QByteArray bytes; // "id: …\nevent: …\ndata: …\n\n"
    };
    static QByteArray eventBytes(uint64_t generation, const QByteArray &name,
                                 const QByteArray &data);
    void wakeAll();
    void disconnect(EventClient *client);

    mutable std::mutex lock_;
    std::deque<Event> log_;
    uint64_t latest_ = 0;
    uint64_t heartbeats_ = 0;
    bool ended_ = false;
    std::set<EventClient *> clients_;
};

// One client of the event stream, read by the connection that sends to it.
class EventClient {
public:
    ~EventClient();
    EventClient(const EventClient &) = delete;
    EventClient &operator=(const EventClient &) = delete;

    static constexpr int64_t kEnd = -1;
    // Copies into `buffer` (at most `room` bytes) what is due: the stream's opening, then the
    // events after the client's place, or a heartbeat. When nothing is due it calls `park`,
    // under the stream's lock, and gives 0; at the stream's end, kEnd.
    int64_t read(char *buffer, size_t room, const std::function<void()> &park);
    // The client went away: its stream ends at its next read, and a parked client is woken for
    // that read at once.
    void hangUp();

private:
    friend class EventStream;
    EventClient(EventStream &stream, uint64_t place, bool reload, std::function<void()> wake,
                QByteArray opening);
    // The next bytes due, or empty; under the stream's lock.
    QByteArray due();

    EventStream &stream_;
    std::function<void()> wake_;
    uint64_t place_;      // the generation of the last event sent
    uint64_t heartbeats_; // the stream's heartbeats when one was last sent
    QByteArray opening_;  // sent first; empty once sent
    bool reload_;         // a reload is due in place of events missed
    bool parked_ = false;
    bool gone_ = false;  // hung up
    QByteArray pending_; // bytes due but not yet taken
};

} // namespace orvantis
