#include "serve/sequencecounts.h"

namespace orvantis {

namespace {

size_t slotOf(uint32_t key, size_t mask) {
    return static_cast<size_t>((key * uint64_t{0x9E3779B97F4A7C15}) >> 32) & mask;
}

} // namespace

SequenceCounts::Entry *SequenceCounts::find(uint32_t key) {
    if (table_.empty())
        grow();
    const size_t mask = table_.size() - 1;
    for (size_t slot = slotOf(key, mask);; slot = (slot + 1) & mask) {
        Entry &entry = table_[slot];
        if (entry.key == key)
            return &entry;
        if (entry.key != 0)
            continue;
        if (kept_ >= kMostKept) {
            full_ = true;
            return nullptr;
        }
        if (2 * (kept_ + 1) > table_.size()) {
            grow();
            return find(key);
        }
        ++kept_;
        entry.key = key;
        return &entry;
    }
}

void SequenceCounts::grow() {
    std::vector<Entry> old = std::move(table_);
    table_.assign(old.empty() ? 1024 : 2 * old.size(), Entry{});
    const size_t mask = table_.size() - 1;
    for (const Entry &entry : old)
        if (entry.key != 0) {
            size_t slot = slotOf(entry.key, mask);
            while (table_[slot].key != 0)
                slot = (slot + 1) & mask;
            table_[slot] = entry;
        }
}

void SequenceCounts::count(const char *begin, const char *end, int sign) {
    if (++place_ == 0) { // wrapped: no entry may seem counted for this place already
        for (Entry &entry : table_)
            entry.countedAt = 0;
        place_ = 1;
    }
    for (const char *at = begin; at < end; ++at)
        eachKeyAt(at, end, [&](uint32_t key) {
            Entry *entry = find(key);
            if (entry && entry->countedAt != place_) {
                entry->countedAt = place_;
                entry->count += static_cast<uint32_t>(sign);
            }
        });
}

std::optional<uint32_t> SequenceCounts::holders(const QByteArray &needle) const {
    if (needle.isEmpty() || needle.size() > 3 || needle.contains('\0'))
        return std::nullopt;
    uint32_t key = 0;
    eachKeyAt(needle.constData(), needle.constData() + needle.size(),
              [&](uint32_t each) { key = each; });
    if (table_.empty())
        return full_ ? std::nullopt : std::optional<uint32_t>(0);
    const size_t mask = table_.size() - 1;
    for (size_t slot = slotOf(key, mask);; slot = (slot + 1) & mask) {
        if (table_[slot].key == key)
            return table_[slot].count;
        if (table_[slot].key == 0)
            return full_ ? std::nullopt : std::optional<uint32_t>(0);
    }
}

} // namespace orvantis
