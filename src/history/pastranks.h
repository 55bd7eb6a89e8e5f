#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace orvantis {

// The ranking as it stood a day and a week before a moment, by account file, and the accounts
// first seen within the week before it (not those there when the history began).
struct PastRanks {
    static constexpr int64_t kDayMs = 24 * 3600 * 1000;
    static constexpr int64_t kWeekMs = 7 * kDayMs;

    int64_t now = 0; // the wall-clock moment they are for (ms since 1970, UTC)
    // Whether the history reaches back a day, a week: otherwise no account has a rank then.
    bool reachesDay = false, reachesWeek = false;
    QHash<QByteArray, uint32_t> day, week; // ranks from 1
    QSet<QByteArray> newcomers;
};

// Makes the past ranks from the history file on a thread of its own, with a connection of its
// own that only reads, as the wall clock moves on: asked for a moment, it makes them for the
// latest moment asked when it is free, and hands them over finished.
class PastRankReader {
public:
    explicit PastRankReader(QString path);
    ~PastRankReader();
    PastRankReader(const PastRankReader &) = delete;
    PastRankReader &operator=(const PastRankReader &) = delete;

    void ask(int64_t now);
    // The ranks made since the last take, if any.
    std::shared_ptr<const PastRanks> take();
    // Why the last ones could not be made; empty when they were.
    QString problem() const;

private:
    void run();

    const QString path_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<int64_t> asked_;
    std::shared_ptr<const PastRanks> made_;
    QString problem_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace orvantis
