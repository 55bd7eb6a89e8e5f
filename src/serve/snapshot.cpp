#include "serve/snapshot.h"

#include "scan/accounts/accountsearch.h"

#include <zlib.h>

#include <algorithm>

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
                   FolderHealth health, const SearchIndex &previous, const TouchedPlaces &touched)
    : generation_(generation), changedAt_(std::move(changedAt)), records_(ranking.sharedRecords()),
      characters_(ranking.sharedCharacters()), report_(ranking.report()),
      health_(std::move(health)), rowOfPlace_(rowsOfPlaces(*records_, 0)),
      index_(previous.updated(*records_, *characters_, rowOfPlace_, touched)) {}

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

std::shared_ptr<const std::vector<size_t>> Snapshot::matches(const QString &text) const {
    return kept(
        searches_, text.toUtf8(),
        [&] {
            auto rows = std::make_shared<std::vector<size_t>>();
            for (const uint32_t place : index_.candidates(text)) {
                const uint32_t row =
                    place < rowOfPlace_.size() ? rowOfPlace_[place] : SearchIndex::kNoRow;
                if (row != SearchIndex::kNoRow &&
                    accountHolds(*records_, characters_.get(), row, text))
                    rows->push_back(row);
            }
            std::sort(rows->begin(), rows->end());
            return std::shared_ptr<const std::vector<size_t>>(std::move(rows));
        },
        [](const std::vector<size_t> &rows) { return rows.size() * sizeof(size_t); });
}

} // namespace orvantis
