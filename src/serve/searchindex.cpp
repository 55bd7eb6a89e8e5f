#include "serve/searchindex.h"

#include <QChar>

#include <algorithm>
#include <cstring>

namespace orvantis {

namespace {

void appendUtf8(QByteArray &out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) { // an unpaired surrogate too: it matches only itself
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void appendFolded(QByteArray &out, QStringView text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i].unicode(), text[i + 1].unicode());
            ++i;
        }
        appendUtf8(out, QChar::toCaseFolded(c));
    }
}

} // namespace

template <typename Take>
void SearchIndex::eachSequenceAt(const char *at, const char *end, Take take) {
    const auto byte = [at](int i) {
        return static_cast<uint32_t>(static_cast<unsigned char>(at[i]));
    };
    take(kBytesAt + byte(0));
    if (end - at >= 2)
        take(kPairsAt + (((byte(0) << 8 | byte(1)) * 2654435761u) >> (32 - kPairsLog2)));
    if (end - at >= 3)
        take(((byte(0) << 16 | byte(1) << 8 | byte(2)) * 2654435761u) >> (32 - kTriplesLog2));
}

QByteArray SearchIndex::folded(QStringView text) {
    QByteArray out;
    out.reserve(text.size());
    appendFolded(out, text);
    return out;
}

std::vector<uint32_t> rowsOfPlaces(const AccountRecords &records, size_t places) {
    for (size_t row = 0; row < records.size(); ++row)
        places = std::max<size_t>(places, size_t{records[row].place} + 1);
    std::vector<uint32_t> rows(places, SearchIndex::kNoRow);
    for (size_t row = 0; row < records.size(); ++row)
        rows[records[row].place] = static_cast<uint32_t>(row);
    return rows;
}

std::shared_ptr<const SearchIndex::Chunk>
SearchIndex::chunkOf(uint32_t first, const AccountRecords &records,
                     const AccountCharacters &characters, const std::vector<uint32_t> &rowOfPlace) {
    auto chunk = std::make_shared<Chunk>();
    const uint32_t end =
        std::min<uint32_t>(first + kChunkPlaces, static_cast<uint32_t>(rowOfPlace.size()));
    chunk->ends.reserve(end - first);
    for (uint32_t place = first; place < end; ++place) {
        const uint32_t row = rowOfPlace[place];
        if (row != kNoRow) {
            // The name shown is most often one of the slots' names: it is kept once.
            QStringView texts[2 + AccountCharacters::kSlots] = {records.login(row)};
            for (int slot = 1; slot <= AccountCharacters::kSlots; ++slot)
                texts[slot] = characters.name(place, slot);
            const QStringView shown = records.name(row);
            if (std::find(texts + 1, texts + 1 + AccountCharacters::kSlots, shown) ==
                texts + 1 + AccountCharacters::kSlots)
                texts[1 + AccountCharacters::kSlots] = shown;
            for (const QStringView text : texts) {
                appendFolded(chunk->text, text);
                chunk->text += '\0';
            }
        }
        chunk->ends.push_back(static_cast<uint32_t>(chunk->text.size()));
    }
    chunk->text.squeeze();
    return chunk;
}

// Sequences across a text's end are marked too: they hold a zero byte, which no search's text
// holds, and only widen the candidates, never narrow them.
std::shared_ptr<const SearchIndex::Group> SearchIndex::groupOf(size_t group) const {
    auto made = std::make_shared<Group>();
    const size_t first = group * kGroupChunks;
    const size_t end = std::min(first + kGroupChunks, chunks_.size());
    for (size_t c = first; c < end; ++c) {
        const QByteArray &text = chunks_[c]->text;
        const uint64_t chunkBit = uint64_t{1} << (c - first);
        const char *const textEnd = text.constData() + text.size();
        for (const char *at = text.constData(); at < textEnd; ++at)
            eachSequenceAt(at, textEnd,
                           [&](uint32_t word) { made->chunksHolding[word] |= chunkBit; });
    }
    return made;
}

SearchIndex SearchIndex::updated(const AccountRecords &records, const AccountCharacters &characters,
                                 const std::vector<uint32_t> &rowOfPlace,
                                 const TouchedPlaces &touched) const {
    const size_t chunks = (rowOfPlace.size() + kChunkPlaces - 1) / kChunkPlaces;
    const size_t groups = (chunks + kGroupChunks - 1) / kGroupChunks;
    SearchIndex index;
    index.chunks_.resize(chunks);
    std::vector<bool> stale(chunks, touched.all);
    if (!touched.all) {
        for (size_t c = 0; c < chunks; ++c)
            if (c < chunks_.size())
                index.chunks_[c] = chunks_[c];
            else
                stale[c] = true;
        for (const uint32_t place : touched.places)
            if (place / kChunkPlaces < chunks)
                stale[place / kChunkPlaces] = true;
    }
    // A group is made again when one of its chunks is, or when it ends elsewhere than it did.
    std::vector<bool> staleGroups(groups, touched.all || chunks != chunks_.size());
    for (size_t c = 0; c < chunks; ++c)
        if (stale[c]) {
            index.chunks_[c] =
                chunkOf(static_cast<uint32_t>(c * kChunkPlaces), records, characters, rowOfPlace);
            staleGroups[c / kGroupChunks] = true;
        }
    index.groups_.resize(groups);
    for (size_t g = 0; g < groups; ++g)
        index.groups_[g] = staleGroups[g] || g >= groups_.size() ? index.groupOf(g) : groups_[g];
    return index;
}

SearchIndex::Sieve SearchIndex::sieve(QStringView text) const {
    Sieve sieve{folded(text), std::vector<uint64_t>(groups_.size(), ~uint64_t{0})};
    std::vector<uint32_t> words;
    const char *const end = sieve.needle.constData() + sieve.needle.size();
    for (const char *at = sieve.needle.constData(); at < end; ++at)
        eachSequenceAt(at, end, [&](uint32_t word) { words.push_back(word); });
    std::sort(words.begin(), words.end());
    words.erase(std::unique(words.begin(), words.end()), words.end());
    for (size_t g = 0; g < groups_.size(); ++g)
        for (const uint32_t word : words)
            sieve.chunks[g] &= groups_[g]->chunksHolding[word];
    // The last group's words have bits for chunks that do not exist.
    if (const size_t beyond = chunks_.size() % kGroupChunks; beyond != 0 && !groups_.empty())
        sieve.chunks.back() &= (uint64_t{1} << beyond) - 1;
    return sieve;
}

size_t SearchIndex::eachCandidate(const Sieve &sieve,
                                  const std::function<bool(uint32_t)> &take) const {
    size_t read = 0;
    if (sieve.needle.isEmpty())
        return read;
    const auto needleSize = static_cast<size_t>(sieve.needle.size());
    for (size_t g = 0; g < sieve.chunks.size(); ++g) {
        for (uint64_t mayHold = sieve.chunks[g]; mayHold; mayHold &= mayHold - 1) {
            const size_t c = g * kGroupChunks + static_cast<size_t>(__builtin_ctzll(mayHold));
            const Chunk &chunk = *chunks_[c];
            ++read;
            const char *const begin = chunk.text.constData();
            const char *const end = begin + chunk.text.size();
            const char *from = begin;
            while (const void *hit = memmem(from, static_cast<size_t>(end - from),
                                            sieve.needle.constData(), needleSize)) {
                const auto offset = static_cast<uint32_t>(static_cast<const char *>(hit) - begin);
                const auto placeEnd =
                    std::upper_bound(chunk.ends.begin(), chunk.ends.end(), offset);
                if (!take(static_cast<uint32_t>(c * kChunkPlaces) +
                          static_cast<uint32_t>(placeEnd - chunk.ends.begin())))
                    return read;
                if (placeEnd == chunk.ends.end())
                    break;
                from = begin + *placeEnd; // the next place's texts
            }
        }
    }
    return read;
}

bool SearchIndex::mayHold(const Sieve &sieve, uint32_t place) const {
    const size_t c = place / kChunkPlaces;
    if (sieve.needle.isEmpty() || c >= chunks_.size() ||
        !(sieve.chunks[c / kGroupChunks] >> (c % kGroupChunks) & 1))
        return false;
    const Chunk &chunk = *chunks_[c];
    const size_t i = place % kChunkPlaces;
    if (i >= chunk.ends.size())
        return false;
    const uint32_t from = i == 0 ? 0 : chunk.ends[i - 1];
    return memmem(chunk.text.constData() + from, chunk.ends[i] - from, sieve.needle.constData(),
                  static_cast<size_t>(sieve.needle.size())) != nullptr;
}

} // namespace orvantis
