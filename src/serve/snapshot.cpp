#include "serve/snapshot.h"

#include "scan/accounts/accountsearch.h"

#include <zlib.h>

#include <algorithm>
#include <array>

namespace orvantis {

namespace {

// The bytes as a gzip stream, at zlib's usual level: made once per body, so the time is well
// spent.
QByteArray gzip(const QByteArray &bytes) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK)
        throw std::bad_alloc();
    QByteArray out(static_cast<qsizetype>(deflateBound(&stream, static_cast<uLong>(bytes.size()))),
                   Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.constData()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    const auto made = static_cast<qsizetype>(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END)
        throw std::bad_alloc();
    out.truncate(made);
    return out;
}

} // namespace

const QByteArray &Body::gzipped() const {
    std::call_once(gzipOnce_, [this] { gzipped_ = gzip(bytes_); });
    return gzipped_;
}

Snapshot::Snapshot(const LiveRanking &ranking, uint64_t generation, QDateTime changedAt,
                   FolderHealth health, const SearchIndex &previous, const TouchedPlaces &touched,
                   Lineage lineage, std::shared_ptr<const MovementTable> movement)
    : generation_(generation), changedAt_(std::move(changedAt)), lineage_(std::move(lineage)),
      records_(ranking.sharedRecords()), characters_(ranking.sharedCharacters()),
      report_(ranking.report()), health_(std::move(health)),
      rowOfPlace_(rowsOfPlaces(*records_, 0)),
      index_(previous.updated(*records_, *characters_, rowOfPlace_, touched)) {
    if (movement)
        movements_.emplace(std::move(movement));
}

Snapshot::Snapshot(const Snapshot &held, uint64_t generation, QDateTime changedAt,
                   FolderHealth health, Lineage lineage)
    : generation_(generation), changedAt_(std::move(changedAt)), lineage_(std::move(lineage)),
      records_(held.records_), characters_(held.characters_), report_(held.report_),
      health_(std::move(health)), rowOfPlace_(held.rowOfPlace_), index_(held.index_),
      movements_(held.movements_) {}

RowMovement TableMovements::of(uint32_t place, int64_t rank) const {
    const PastPlace past = table_->of(place);
    RowMovement moved;
    if (past.day > 0)
        moved.day = static_cast<int64_t>(past.day) - rank;
    if (past.week > 0)
        moved.week = static_cast<int64_t>(past.week) - rank;
    moved.isNew = past.isNew;
    moved.peakRank = past.peak != 0 && past.peak < rank ? past.peak : rank;
    return moved;
}

QByteArray Snapshot::tag() const {
    return lineage_.run + "-g" + QByteArray::number(static_cast<qulonglong>(generation_));
}

template <typename Value, typename Make, typename Size>
std::shared_ptr<const Value> Snapshot::kept(Cache<Value> &cache, const QByteArray &key, Make &&make,
                                            Size &&sizeOf) const {
    std::shared_ptr<Entry<Value>> entry;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        auto &entries = cache.entries;
        for (auto at = entries.begin(); at != entries.end(); ++at)
            if (at->first == key) {
                entries.splice(entries.begin(), entries, at); // the most recently asked first
                entry = entries.front().second;
                break;
            }
        if (!entry) {
            entry = std::make_shared<Entry<Value>>();
            entries.emplace_front(key, entry);
        }
    }
    std::call_once(entry->once, [&] { entry->value = make(); });
    const std::lock_guard<std::mutex> guard(lock_);
    if (!entry->counted && !entry->dropped) {
        entry->counted = true;
        entry->bytes = sizeOf(*entry->value);
        cache.bytes += entry->bytes;
    }
    // The least recently asked go, never the one just asked for (whoever waits for a value
    // dropped still gets it).
    auto &entries = cache.entries;
    while (entries.size() > 1 && (cache.bytes > cache.mostBytes ||
                                  (cache.mostBytes != SIZE_MAX && entries.size() > kKept))) {
        Entry<Value> &last = *entries.back().second;
        last.dropped = true;
        if (last.counted)
            cache.bytes -= last.bytes;
        entries.pop_back();
    }
    return entry->value;
}

std::shared_ptr<const Body> Snapshot::body(const QByteArray &key,
                                           const std::function<QByteArray()> &make,
                                           Keeping keeping) const {
    return kept(
        keeping == Keeping::Always ? wholeBodies_ : bodies_, key,
        [&] { return std::make_shared<const Body>(make()); },
        [](const Body &body) { return static_cast<size_t>(body.bytes().size()); });
}

std::shared_ptr<const Snapshot::Found> Snapshot::search(const QString &text,
                                                        int64_t counted) const {
    return kept(
        searches_, QByteArray::number(static_cast<qlonglong>(counted)) + '|' + text.toUtf8(),
        [&] {
            auto found = std::make_shared<Found>();
            found->sieve = index_.sieve(text);
            if (const std::optional<uint32_t> holders = index_.holders(found->sieve)) {
                found->total = std::min<int64_t>(*holders, counted + 1);
                found->listed = found->total == 0;
                return std::shared_ptr<const Found>(std::move(found));
            }
            found->listed = readAll(text, *found, counted);
            found->total = found->listed ? static_cast<int64_t>(found->rows.size()) : counted + 1;
            if (!found->listed)
                found->rows = {};
            return std::shared_ptr<const Found>(std::move(found));
        },
        [](const Found &found) {
            return (found.rows.size() + found.sieve.chunks.size()) * sizeof(size_t);
        });
}

std::shared_ptr<const Snapshot::Found> Snapshot::listed(const QString &text,
                                                        const Found &found) const {
    return kept(
        searches_, "all|" + text.toUtf8(),
        [&] {
            auto all = std::make_shared<Found>();
            all->sieve = found.sieve;
            all->listed = readAll(text, *all, found.total);
            all->total = static_cast<int64_t>(all->rows.size());
            return std::shared_ptr<const Found>(std::move(all));
        },
        [](const Found &all) {
            return (all.rows.size() + all.sieve.chunks.size()) * sizeof(size_t);
        });
}

bool Snapshot::readAll(const QString &text, Found &found, int64_t counted) const {
    bool all = true;
    found.chunksRead = index_.eachCandidate(found.sieve, [&](uint32_t place) {
        const uint32_t row = place < rowOfPlace_.size() ? rowOfPlace_[place] : SearchIndex::kNoRow;
        if (row == SearchIndex::kNoRow ||
            (!found.sieve.exact && !accountHolds(*records_, characters_.get(), row, text)))
            return true;
        found.rows.push_back(row);
        all = static_cast<int64_t>(found.rows.size()) <= counted;
        return all;
    });
    std::sort(found.rows.begin(), found.rows.end());
    found.rows.shrink_to_fit();
    return all;
}

bool Snapshot::listingPays(const Found &found, int64_t rows) const {
    return static_cast<int64_t>(found.sieve.chunkCount) * kChunkInRows <= rows;
}

Snapshot::Slice Snapshot::rowsHolding(const QString &text, const Found &found, size_t from,
                                      int64_t skip, int64_t count, int64_t counted) const {
    Slice slice;
    const AccountRecords &records = *records_;
    std::array<uint32_t, 64> places;
    for (size_t row = 0; row < records.size() && static_cast<int64_t>(slice.rows.size()) < count;) {
        // As many rows as are still wanted at once (when all of them match, no more are read),
        // at most 64.
        const size_t wanted = static_cast<size_t>(count) - slice.rows.size();
        const size_t batch =
            std::min({records.size() - row, std::max<size_t>(wanted, 8), places.size()});
        for (size_t i = 0; i < batch; ++i)
            places[i] = records[row + i].place;
        const uint64_t holding = index_.holding(found.sieve, places.data(), batch);
        for (size_t i = 0; i < batch; ++i, ++row) {
            if (static_cast<int64_t>(slice.rows.size()) >= count)
                return slice;
            ++slice.rowsRead;
            if (!(holding >> i & 1) ||
                (!found.sieve.exact && !accountHolds(records, characters_.get(), row, text)))
                continue;
            if (row < from || skip > 0) {
                skip -= row < from ? 0 : 1;
                if (++slice.before >= counted) {
                    slice.beyond = true;
                    return slice;
                }
                continue;
            }
            slice.rows.push_back(row);
        }
    }
    return slice;
}

} // namespace orvantis
