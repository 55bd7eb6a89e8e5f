#pragma once

#include "formats/accountranking.h"
#include "history/historywriter.h"
#include "history/movement.h"
#include "scan/accounts/accountcharacters.h"
#include "scan/accounts/accountrecords.h"
#include "scan/live/folderfollower.h"
#include "scan/live/liveranking.h"
#include "scan/reading/scanreport.h"
#include "scan/system/scanfailure.h"
#include "serve/searchindex.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace orvantis {

// A response body made once and sent to every client that asks for it, as it is or gzipped (made
// on the first asking for it).
class Body {
public:
    explicit Body(QByteArray bytes) : bytes_(std::move(bytes)) {}
    const QByteArray &bytes() const { return bytes_; }
    const QByteArray &gzipped() const;

    // What a server makes of this body to send it in one of the ways its answers take (whole or
    // gzipped, 200 or 304): made once by `make` and kept as long as the body, or null.
    static constexpr int kWays = 4;
    template <typename Make> void *prepared(int way, Make &&make) const {
        std::call_once(preparedOnce_[way], [&] { prepared_[way] = make(); });
        return prepared_[way].get();
    }

private:
    QByteArray bytes_;
    mutable std::once_flag gzipOnce_;
    mutable QByteArray gzipped_;
    mutable std::array<std::once_flag, kWays> preparedOnce_;
    mutable std::array<std::shared_ptr<void>, kWays> prepared_;
};

// What the follower reports beside the ranking: whether it follows the folder's changes, and
// the failure of the last read, when it failed, with since when (the ranking is then the last
// good one).
struct FolderHealth {
    Following following;
    std::optional<ScanFailure> readFailure;
    QDateTime failingSince;
    bool emptied = false;                 // the failure is the folder's holding no account files
    std::optional<HistoryHealth> history; // none when no history is kept
};

// Where a snapshot stands among those of every run of the server: the run's name, drawn at its
// start, so that the tags of its answers never name the bytes of another run's; and whether it
// was the first made in its second (the first of a run cannot know), so that a client given that
// second as its time was given this snapshot, unless a later one came in the same second.
struct Lineage {
    QByteArray run;
    bool firstInItsSecond = false;
};

// How each account of a snapshot has moved, from the history's movement table: the places it
// moved up since a day and a week before, by its rank then and now.
class TableMovements : public Movements {
public:
    explicit TableMovements(std::shared_ptr<const MovementTable> table)
        : table_(std::move(table)) {}
    RowMovement of(uint32_t place, int64_t rank) const override;
    // Whether the history reaches back a week, or a day.
    bool reaches(bool week) const { return week ? table_->reachesWeek : table_->reachesDay; }

private:
    std::shared_ptr<const MovementTable> table_;
};

// One generation of the ranking, as the server's threads read it: never changed once made, and
// kept alive by every response that uses it. Bodies made from it are made once, by the first
// request that needs them, and kept with it (the most recently asked of them).
class Snapshot {
public:
    // The ranking as it stands; its search index is `previous` with the places `touched` since
    // made again (all of them by default).
    // With a history, `movement` says how each account has moved.
    Snapshot(const LiveRanking &ranking, uint64_t generation, QDateTime changedAt,
             FolderHealth health, const SearchIndex &previous = {},
             const TouchedPlaces &touched = {}, Lineage lineage = {},
             std::shared_ptr<const MovementTable> movement = {});
    // The rows of `held`, with another generation and health: what is served while the folder
    // cannot give a ranking to serve in their place.
    Snapshot(const Snapshot &held, uint64_t generation, QDateTime changedAt, FolderHealth health,
             Lineage lineage);

    uint64_t generation() const { return generation_; }
    const Lineage &lineage() const { return lineage_; }
    // The name of this snapshot among those of every run: its run's and its generation. Its
    // answers' tags, and what the page and the event stream say they show.
    QByteArray tag() const;
    // When the ranking last changed: read whole, or a change applied.
    const QDateTime &changedAt() const { return changedAt_; }
    const AccountRecords &records() const { return *records_; }
    const AccountCharacters &characters() const { return *characters_; }
    const ScanReport &report() const { return report_; }
    const FolderHealth &health() const { return health_; }
    size_t size() const { return records_->size(); }
    const SearchIndex &searchIndex() const { return index_; }
    // How each account has moved; none without a history.
    const TableMovements *movements() const { return movements_ ? &*movements_ : nullptr; }

    // A search counts the accounts that hold its text up to a bound, so that its work does
    // not grow with how common the text is: a letter is held by most of a million accounts.
    static constexpr int64_t kCountedMatches = 10000;

    // What a search of `text` (see accountHolds) found, once per text on this snapshot: how
    // many accounts hold it, exactly up to `counted` (`counted` + 1 when more do), and their rows
    // in rank order when counting them read them (`listed`). A text of one to three bytes is
    // counted without reading: its rows are found by listed() or, for a page, by rowsHolding.
    struct Found {
        SearchIndex::Sieve sieve;
        int64_t total = 0;
        bool listed = false;
        std::vector<size_t> rows; // when listed
        size_t chunksRead = 0;    // of the index, to find them
    };
    std::shared_ptr<const Found> search(const QString &text,
                                        int64_t counted = kCountedMatches) const;
    // The search `found` of `text`, counted but not listed, with every row listed.
    std::shared_ptr<const Found> listed(const QString &text, const Found &found) const;
    // Whether listing every match of `found` costs less than reading `rows` rows down the
    // ranking to find some of them.
    bool listingPays(const Found &found, int64_t rows) const;

    // The rows holding a search's text, in rank order, read down the ranking: from row `from`
    // on, those after the first `skip`, `count` at most. The rows read stop there, or once more
    // than `counted` matches come before the rows asked for (then `beyond`).
    struct Slice {
        std::vector<size_t> rows;
        int64_t before = 0; // matches before the first of `rows`
        bool beyond = false;
        size_t rowsRead = 0;
    };
    Slice rowsHolding(const QString &text, const Found &found, size_t from, int64_t skip,
                      int64_t count, int64_t counted = kCountedMatches) const;

    // How long what is made from a snapshot is kept with it.
    enum class Keeping {
        WhileAsked, // among the most recently asked, within kKept and kKeptBytes
        Always,     // for as long as the snapshot lives: the whole ranking's files
    };

    // The body named `key`: made by `make` the first time it is asked for, from any thread, and
    // the same bytes for every asking after that while it is kept.
    std::shared_ptr<const Body> body(const QByteArray &key, const std::function<QByteArray()> &make,
                                     Keeping keeping = Keeping::WhileAsked) const;

    // How many bodies, and searches, a snapshot keeps while asked, and how many bytes of them:
    // the least recently asked are let go first, so that no mix of requests makes it grow
    // without end.
    static constexpr size_t kKept = 64;
    static constexpr size_t kKeptBytes = size_t{32} << 20;

private:
    // A value made once: whoever asks for it first makes it, the others wait for it.
    template <typename Value> struct Entry {
        std::once_flag once;
        std::shared_ptr<const Value> value;
        size_t bytes = 0;     // once counted in its cache
        bool counted = false; // guarded by lock_, as the rest but `once` and `value`
        bool dropped = false;
    };
    template <typename Value> struct Cache {
        std::list<std::pair<QByteArray, std::shared_ptr<Entry<Value>>>> entries;
        size_t bytes = 0;
        size_t mostBytes = kKeptBytes;
    };
    template <typename Value, typename Make, typename Size>
    std::shared_ptr<const Value> kept(Cache<Value> &cache, const QByteArray &key, Make &&make,
                                      Size &&sizeOf) const;
    // Reads the rows of the chunks `found`'s sieve lets through into found.rows, in rank order:
    // whether they are all there, at most `counted` of them.
    bool readAll(const QString &text, Found &found, int64_t counted) const;

    uint64_t generation_;
    QDateTime changedAt_;
    Lineage lineage_;
    std::shared_ptr<const AccountRecords> records_; // shared with the ranking until it changes
    std::shared_ptr<const AccountCharacters> characters_;
    ScanReport report_;
    FolderHealth health_;
    std::vector<uint32_t> rowOfPlace_;
    SearchIndex index_;
    std::optional<TableMovements> movements_;

    mutable std::mutex lock_; // guards the caches' lists, never while a value is made or sent
    mutable Cache<Body> bodies_;
    mutable Cache<Body> wholeBodies_{{}, 0, SIZE_MAX};
    mutable Cache<Found> searches_;
    // Listing a chunk's matches costs about as much as reading this many rows down the ranking
    // (0.27 us against 6 ns at a million accounts); a list is kept for the next pages too.
    static constexpr int64_t kChunkInRows = 48;
};

} // namespace orvantis
