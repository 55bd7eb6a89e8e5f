#include "serve/searchindex.h"

#include "serve/bytesearch.h"

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

namespace {

// The bits of a name's sequences are few and alike (letters differ in their low bits): they are
// mixed well before they are cut down to a word or a bit, or whole families of sequences share
// them, and their chunks pass each other's sieves.
uint32_t mixed(uint32_t key) {
    key ^= key >> 16;
    key *= 0x7feb352du;
    key ^= key >> 15;
    key *= 0x846ca68bu;
    key ^= key >> 16;
    return key;
}

} // namespace

uint32_t SearchIndex::wordOf(uint32_t key) {
    switch (key >> 24) {
    case 1:
        return kBytesAt + (key & 0xFF);
    case 2:
        return kPairsAt + (mixed(key) >> (32 - kPairsLog2));
    default:
        return mixed(key) >> (32 - kTriplesLog2);
    }
}

uint64_t SearchIndex::tripleBitOf(uint32_t key) {
    return key >> 24 == 3 ? uint64_t{1} << (mixed(key) & 63) : 0;
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
    chunk->places.reserve(end - first);
    for (uint32_t place = first; place < end; ++place) {
        const uint32_t row = rowOfPlace[place];
        const auto from = static_cast<qsizetype>(chunk->text.size());
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
        uint64_t triples = 0;
        const char *const textEnd = chunk->text.constData() + chunk->text.size();
        for (const char *at = chunk->text.constData() + from; at < textEnd; ++at)
            SequenceCounts::eachKeyAt(at, textEnd,
                                      [&](uint32_t key) { triples |= tripleBitOf(key); });
        chunk->places.push_back(
            {static_cast<uint32_t>(chunk->text.size()),
             {static_cast<uint32_t>(triples), static_cast<uint32_t>(triples >> 32)}});
    }
    chunk->text.squeeze();
    return chunk;
}

std::shared_ptr<const SearchIndex::Group> SearchIndex::groupOf(size_t group) const {
    auto made = std::make_shared<Group>();
    const size_t first = group * kGroupChunks;
    const size_t end = std::min(first + kGroupChunks, chunks_.size());
    for (size_t c = first; c < end; ++c) {
        const QByteArray &text = chunks_[c]->text;
        const uint64_t chunkBit = uint64_t{1} << (c - first);
        const char *const textEnd = text.constData() + text.size();
        for (const char *at = text.constData(); at < textEnd; ++at)
            SequenceCounts::eachKeyAt(
                at, textEnd, [&](uint32_t key) { made->chunksHolding[wordOf(key)] |= chunkBit; });
    }
    return made;
}

void SearchIndex::count(SequenceCounts &counts, const Chunk &chunk, int sign) {
    uint32_t from = 0;
    for (const PlaceTexts &place : chunk.places) {
        if (place.end > from)
            counts.count(chunk.text.constData() + from, chunk.text.constData() + place.end, sign);
        from = place.end;
    }
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
    auto counts = touched.all || !counts_ ? std::make_shared<SequenceCounts>()
                                          : std::make_shared<SequenceCounts>(*counts_);
    for (size_t c = 0; c < chunks_.size() && !touched.all; ++c)
        if (c >= chunks || stale[c])
            count(*counts, *chunks_[c], -1);
    for (size_t c = 0; c < chunks; ++c)
        if (stale[c]) {
            index.chunks_[c] =
                chunkOf(static_cast<uint32_t>(c * kChunkPlaces), records, characters, rowOfPlace);
            staleGroups[c / kGroupChunks] = true;
            count(*counts, *index.chunks_[c], 1);
        }
    index.counts_ = std::move(counts);
    index.groups_.resize(groups);
    for (size_t g = 0; g < groups; ++g)
        index.groups_[g] = staleGroups[g] || g >= groups_.size() ? index.groupOf(g) : groups_[g];
    return index;
}

SearchIndex::Sieve SearchIndex::sieve(QStringView text) const {
    Sieve sieve{folded(text), std::vector<uint64_t>(groups_.size(), ~uint64_t{0})};
    sieve.exact = !sieve.needle.isEmpty() && !sieve.needle.contains('\0');
    // The longest sequences only: a chunk that holds a triple holds its pairs and bytes, and
    // each word read is a group's (a cache miss each, a few hundred of them a word).
    std::vector<uint32_t> words;
    const char *const end = sieve.needle.constData() + sieve.needle.size();
    uint32_t longest = 0;
    for (const char *at = sieve.needle.constData(); at < end; ++at)
        SequenceCounts::eachKeyAt(at, end, [&](uint32_t key) {
            if (key >> 24 > longest) {
                longest = key >> 24;
                words.clear();
            }
            if (key >> 24 == longest)
                words.push_back(wordOf(key));
            sieve.triples |= tripleBitOf(key);
        });
    std::sort(words.begin(), words.end());
    words.erase(std::unique(words.begin(), words.end()), words.end());
    for (size_t g = 0; g < groups_.size(); ++g) {
        uint64_t &mayHold = sieve.chunks[g];
        for (size_t w = 0; w < words.size() && mayHold; ++w)
            mayHold &= groups_[g]->chunksHolding[words[w]];
    }
    // The last group's words have bits for chunks that do not exist.
    if (const size_t beyond = chunks_.size() % kGroupChunks; beyond != 0 && !groups_.empty())
        sieve.chunks.back() &= (uint64_t{1} << beyond) - 1;
    for (const uint64_t word : sieve.chunks)
        sieve.chunkCount += static_cast<size_t>(__builtin_popcountll(word));
    return sieve;
}

std::optional<uint32_t> SearchIndex::holders(const Sieve &sieve) const {
    if (!counts_)
        return 0;
    return counts_->holders(sieve.needle);
}

size_t SearchIndex::eachCandidate(const Sieve &sieve,
                                  const std::function<bool(uint32_t)> &take) const {
    size_t read = 0;
    if (sieve.needle.isEmpty())
        return read;
    const auto needleSize = static_cast<size_t>(sieve.needle.size());
    std::array<const Chunk *, kGroupChunks> candidates;
    for (size_t g = 0; g < sieve.chunks.size(); ++g) {
        // A group's chunks fetched together, their places then, so that their misses overlap.
        size_t n = 0;
        for (uint64_t left = sieve.chunks[g]; left; left &= left - 1) {
            candidates[n] =
                chunks_[g * kGroupChunks + static_cast<size_t>(__builtin_ctzll(left))].get();
            __builtin_prefetch(candidates[n++]);
        }
        for (size_t k = 0; k < n; ++k)
            for (size_t line = 0; line < sizeof(PlaceTexts) * kChunkPlaces; line += 64)
                __builtin_prefetch(reinterpret_cast<const char *>(candidates[k]->places.data()) +
                                   line);
        uint64_t left = sieve.chunks[g];
        for (size_t k = 0; k < n; ++k, left &= left - 1) {
            const size_t c = g * kGroupChunks + static_cast<size_t>(__builtin_ctzll(left));
            const Chunk &chunk = *candidates[k];
            ++read;
            const char *const text = chunk.text.constData();
            uint32_t from = 0;
            for (size_t i = 0; i < chunk.places.size(); from = chunk.places[i++].end) {
                if (mayHold(sieve, chunk.places[i]) &&
                    findBytes(text + from, text + chunk.places[i].end, sieve.needle.constData(),
                              needleSize) &&
                    !take(static_cast<uint32_t>(c * kChunkPlaces + i)))
                    return read;
            }
        }
    }
    return read;
}

uint64_t SearchIndex::holding(const Sieve &sieve, const uint32_t *places, size_t count) const {
    struct Candidate {
        size_t i;
        const Chunk *chunk;
        uint32_t from = 0;
        uint32_t end = 0;
    };
    std::array<Candidate, 64> candidates;
    size_t n = 0;
    if (sieve.needle.isEmpty())
        return 0;
    for (size_t i = 0; i < std::min<size_t>(count, 64); ++i) {
        const size_t c = places[i] / kChunkPlaces;
        if (c < chunks_.size() && sieve.chunks[c / kGroupChunks] >> (c % kGroupChunks) & 1) {
            candidates[n] = {i, chunks_[c].get()};
            __builtin_prefetch(candidates[n++].chunk);
        }
    }
    for (size_t k = 0; k < n; ++k)
        __builtin_prefetch(candidates[k].chunk->places.data() +
                           places[candidates[k].i] % kChunkPlaces);
    // The places whose triples may hold the text, their texts fetched.
    size_t kept = 0;
    for (size_t k = 0; k < n; ++k) {
        const Candidate &candidate = candidates[k];
        const auto &texts = candidate.chunk->places;
        const size_t i = places[candidate.i] % kChunkPlaces;
        if (i < texts.size() && mayHold(sieve, texts[i])) {
            candidates[kept] = {candidate.i, candidate.chunk, i == 0 ? 0 : texts[i - 1].end,
                                texts[i].end};
            __builtin_prefetch(candidate.chunk->text.constData() + candidates[kept++].from);
        }
    }
    uint64_t holding = 0;
    for (size_t k = 0; k < kept; ++k) {
        const Candidate &candidate = candidates[k];
        const char *const text = candidate.chunk->text.constData();
        if (findBytes(text + candidate.from, text + candidate.end, sieve.needle.constData(),
                      static_cast<size_t>(sieve.needle.size())))
            holding |= uint64_t{1} << candidate.i;
    }
    return holding;
}

} // namespace orvantis
