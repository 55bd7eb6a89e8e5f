#pragma once

#include "history/historywriter.h"
#include "scan/live/liveranking.h"

#include <QByteArray>
#include <QHash>

#include <cstdint>
#include <vector>

namespace orvantis {

// Tells the history what happened to each account as the ranking changes: first seen (or back),
// its best level, login or best character changed, or removed. It keeps each account's state as
// last recorded, so that an account that does not change costs nothing but its first record.
// The times follow the wall clock, never going back: a clock stepped back records what follows
// at the last time recorded, in the order it happened. Used on the follower's thread.
class HistoryRecorder {
public:
    // `present`: the accounts the history holds as present, as the writer read them.
    HistoryRecorder(HistoryWriter &writer, const std::vector<AccountState> &present);

    // Compares the whole ranking with what was recorded: after a whole read.
    void compareAll(const LiveRanking &ranking);
    // Compares the accounts at these places: after a change to their files.
    void compare(const LiveRanking &ranking, const std::vector<uint32_t> &places);
    // The best rank the account has held; 0 for none yet.
    uint32_t peakOf(const QByteArray &file) const { return recorded_.value(file).peak; }
    // Better ranks than any before, each with its account file: kept, and written.
    void notePeaks(const std::vector<std::pair<QByteArray, uint32_t>> &peaks);
    // The accounts first seen by the last comparison after the history began, and when.
    std::vector<std::pair<QByteArray, int64_t>> takeNewcomers() { return std::move(newcomers_); }

private:
    struct Recorded {
        int32_t level = 0;
        uint8_t slot = 0;
        size_t texts = 0;    // a digest of the login and the character's name
        uint32_t seenIn = 0; // the last whole comparison that saw it
        uint32_t peak = 0;   // the best rank it has held
    };
    static size_t textsOf(const AccountState &state);
    AccountState stateOf(const LiveRanking &ranking, size_t row) const;
    void note(AccountState state, std::vector<AccountEvent> &events, int64_t at);
    int64_t now();

    HistoryWriter &writer_;
    QHash<QByteArray, Recorded> recorded_;
    uint32_t comparison_ = 0;
    int64_t lastAt_ = 0;
    bool began_ = false; // the history holds accounts: those seen from now on are newcomers
    std::vector<std::pair<QByteArray, int64_t>> newcomers_;
};

} // namespace orvantis
