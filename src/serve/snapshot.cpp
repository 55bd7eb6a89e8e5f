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
    : generation_(generation), changedAt_(std::move(changedAt)), records_(ranking.records()),
      characters_(ranking.characters()), report_(ranking.report()), health_(std::move(health)),
      rowOfPlace_(rowsOfPlaces(records_, 0)),
      index_(previous.updated(records_, characters_, rowOfPlace_, touched)) {}

template <typename Value, typename Make>
std::shared_ptr<const Value> Snapshot::kept(Cache<Value> &cache, const QByteArray &key,
                                            Make &&make) const {
    std::shared_ptr<Entry<Value>> entry;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        for (auto at = cache.begin(); at != cache.end(); ++at)
            if (at->first == key) {
                cache.splice(cache.begin(), cache, at); // the most recently asked first
                entry = cache.front().second;
                break;
            }
        if (!entry) {
            entry = std::make_shared<Entry<Value>>();
            cache.emplace_front(key, entry);
            if (cache.size() > kKept)
                cache.pop_back();
        }
    }
    std::call_once(entry->once, [&] { entry->value = make(); });
    return entry->value;
}

std::shared_ptr<const Body> Snapshot::body(const QByteArray &key,
                                           const std::function<QByteArray()> &make) const {
    return kept(bodies_, key, [&] { return std::make_shared<const Body>(make()); });
}

std::shared_ptr<const std::vector<size_t>> Snapshot::matches(const QString &text) const {
    return kept(searches_, text.toUtf8(), [&] {
        auto rows = std::make_shared<std::vector<size_t>>();
        for (const uint32_t place : index_.candidates(text)) {
            const uint32_t row =
                place < rowOfPlace_.size() ? rowOfPlace_[place] : SearchIndex::kNoRow;
            if (row != SearchIndex::kNoRow && accountHolds(records_, &characters_, row, text))
                rows->push_back(row);
        }
        std::sort(rows->begin(), rows->end());
        return std::shared_ptr<const std::vector<size_t>>(std::move(rows));
    });
}

} // namespace orvantis
