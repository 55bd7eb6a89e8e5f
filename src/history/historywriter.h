#pragma once

#include "history/historyfile.h"

#include <QDateTime>
#include <QString>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace orvantis {

// How the history fares: what is wrong with it and since when (UTC), none when it is written.
struct HistoryHealth {
    QString file;
    std::optional<HistoryFault> fault;
    QDateTime since;
};

// Writes the history on a thread of its own, off the serving threads and the follower's: the
// events handed to it are written in batches, one transaction each, within a second of being
// handed over. A write that fails is tried again every kRetryMs with every event since, each
// with the time it was seen, until the fault clears; a lasting fault (a damaged file, one of a
// newer version or of another program) stops the writing for good and the file is left as it
// is. At most kMostWaiting events wait; beyond, the oldest are dropped, and the health says so.
class HistoryWriter {
public:
    static constexpr int kGatherMs = 200;
    static constexpr int kRetryMs = 2000;
    static constexpr size_t kMostWaiting = 4'000'000;

    // Opens `path` on the writer's thread and reads the accounts present into `present` before
    // it returns, so that the first ranking is compared with what the file holds.
    HistoryWriter(QString path, std::vector<AccountState> &present);
    ~HistoryWriter();
    HistoryWriter(const HistoryWriter &) = delete;
    HistoryWriter &operator=(const HistoryWriter &) = delete;

    void hand(std::vector<AccountEvent> events);
    HistoryHealth health() const;

private:
    void run();
    void setFault(std::optional<HistoryFault> fault);

    const QString path_;
    HistoryFile file_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<AccountEvent> waiting_;
    size_t dropped_ = 0;
    std::optional<HistoryFault> fault_;
    QDateTime since_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace orvantis
