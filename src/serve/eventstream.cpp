#include "serve/eventstream.h"

#include <algorithm>
#include <cstring>

namespace orvantis {

QByteArray EventStream::eventBytes(uint64_t generation, const QByteArray &name,
                                   const QByteArray &data) {
    return "id: " + QByteArray::number(static_cast<qulonglong>(generation)) + "\nevent: " + name +
           "\ndata: " + data + "\n\n";
}

void EventStream::publish(uint64_t generation, const QByteArray &name, const QByteArray &data) {
    const std::lock_guard<std::mutex> guard(lock_);
    log_.push_back({generation, eventBytes(generation, name, data)});
    if (log_.size() > kKept)
        log_.pop_front();
    latest_ = generation;
    wakeAll();
}

void EventStream::heartbeat() {
    const std::lock_guard<std::mutex> guard(lock_);
    ++heartbeats_;
    wakeAll();
}

void EventStream::end() {
    const std::lock_guard<std::mutex> guard(lock_);
    ended_ = true;
    wakeAll();
}

void EventStream::wakeAll() {
    for (EventClient *client : clients_)
        if (std::exchange(client->parked_, false))
            client->wake_();
}

size_t EventStream::clients() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return clients_.size();
}

std::shared_ptr<EventClient> EventStream::connect(std::optional<uint64_t> lastSeen,
                                                  std::function<void()> wake,
                                                  const QByteArray &serving) {
    // When the connection is lost, the client tries again after two seconds.
    QByteArray opening = "retry: 2000\n\n";
    if (!serving.isEmpty())
        opening += "event: serving\ndata: {\"generation\": \"" + serving + "\"}\n\n";
    const std::lock_guard<std::mutex> guard(lock_);
    // Events after `lastSeen` are all kept, or none are due: else they are missed.
    const bool kept =
        lastSeen && *lastSeen <= latest_ &&
        (*lastSeen == latest_ || (!log_.empty() && log_.front().generation <= *lastSeen + 1));
    std::shared_ptr<EventClient> client(new EventClient(
        *this, kept ? *lastSeen : latest_, lastSeen && !kept, std::move(wake), std::move(opening)));
    client->heartbeats_ = heartbeats_;
    clients_.insert(client.get());
    return client;
}

void EventStream::disconnect(EventClient *client) {
    const std::lock_guard<std::mutex> guard(lock_);
    clients_.erase(client);
}

EventClient::EventClient(EventStream &stream, uint64_t place, bool reload,
                         std::function<void()> wake, QByteArray opening)
    : stream_(stream), wake_(std::move(wake)), place_(place), heartbeats_(0),
      opening_(std::move(opening)), reload_(reload) {}

EventClient::~EventClient() {
    stream_.disconnect(this);
}

QByteArray EventClient::due() {
    if (!opening_.isEmpty())
        return std::exchange(opening_, QByteArray());
    const std::deque<EventStream::Event> &log = stream_.log_;
    if (!log.empty() && place_ < stream_.latest_ && log.front().generation > place_ + 1)
        reload_ = true; // it fell behind what the log keeps
    if (reload_) {
        reload_ = false;
        place_ = stream_.latest_;
        return EventStream::eventBytes(place_, "reload", "{}");
    }
    const auto next = std::upper_bound(
        log.begin(), log.end(), place_,
        [](uint64_t place, const EventStream::Event &event) { return place < event.generation; });
    if (next != log.end()) {
        place_ = next->generation;
        return next->bytes;
    }
    if (heartbeats_ != stream_.heartbeats_) {
        heartbeats_ = stream_.heartbeats_;
        return ": heartbeat\n\n";
    }
    return QByteArray();
}

void EventClient::hangUp() {
    const std::lock_guard<std::mutex> guard(stream_.lock_);
    gone_ = true;
    if (std::exchange(parked_, false))
        wake_();
}

int64_t EventClient::read(char *buffer, size_t room, const std::function<void()> &park) {
    const std::lock_guard<std::mutex> guard(stream_.lock_);
    if (gone_)
        return kEnd;
    if (pending_.isEmpty()) {
        if (stream_.ended_)
            return kEnd;
        pending_ = due();
    }
    if (pending_.isEmpty()) {
        parked_ = true;
        park();
        return 0;
    }
    const size_t taken = std::min(room, static_cast<size_t>(pending_.size()));
    std::memcpy(buffer, pending_.constData(), taken);
    pending_.remove(0, static_cast<qsizetype>(taken));
    return static_cast<int64_t>(taken);
}

} // namespace orvantis
