#include "history/historyrecorder.h"

#include <QDateTime>

#include <algorithm>

namespace orvantis {

namespace {

// The name of the account file at `place`, as its bytes: the account.
QByteArray accountOf(const LiveRanking &ranking, uint32_t place) {
    const std::string_view name = ranking.rawName(place);
    return QByteArray(name.data(), static_cast<qsizetype>(name.size()));
}

} // namespace

HistoryRecorder::HistoryRecorder(HistoryWriter &writer, const std::vector<AccountState> &present)
    : writer_(writer), began_(!present.empty()) {
    recorded_.reserve(static_cast<qsizetype>(present.size()));
    for (const AccountState &state : present)
        recorded_.insert(state.file, {state.level, state.slot, textsOf(state), 0, state.peakRank});
}

size_t HistoryRecorder::textsOf(const AccountState &state) {
    return qHashMulti(0, state.login, state.character);
}

int64_t HistoryRecorder::now() {
    lastAt_ = std::max<int64_t>(lastAt_, QDateTime::currentMSecsSinceEpoch());
    return lastAt_;
}

AccountState HistoryRecorder::stateOf(const LiveRanking &ranking, size_t row) const {
    const AccountRecords &records = ranking.records();
    const AccountRecord &record = records[row];
    return {accountOf(ranking, record.place), record.level, records.login(row).toString(),
            record.slot, records.name(row).toString()};
}

void HistoryRecorder::note(AccountState state, std::vector<AccountEvent> &events, int64_t at) {
    const size_t texts = textsOf(state);
    const auto found = recorded_.find(state.file);
    if (found == recorded_.end()) {
        recorded_.insert(state.file, {state.level, state.slot, texts, comparison_});
        if (began_)
            newcomers_.emplace_back(state.file, at);
        events.push_back({AccountEvent::Seen, at, std::move(state)});
        return;
    }
    found->seenIn = comparison_;
    if (found->level == state.level && found->slot == state.slot && found->texts == texts)
        return;
    *found = {state.level, state.slot, texts, comparison_, found->peak};
    events.push_back({AccountEvent::Changed, at, std::move(state)});
}

void HistoryRecorder::notePeaks(const std::vector<std::pair<QByteArray, uint32_t>> &peaks) {
    const int64_t at = now();
    std::vector<AccountEvent> events;
    for (const auto &[file, rank] : peaks) {
        const auto found = recorded_.find(file);
        if (found == recorded_.end() || (found->peak != 0 && found->peak <= rank))
            continue;
        found->peak = rank;
        AccountEvent event{AccountEvent::Peak, at, {}};
        event.state.file = file;
        event.state.peakRank = rank;
        events.push_back(std::move(event));
    }
    writer_.hand(std::move(events));
}

void HistoryRecorder::compareAll(const LiveRanking &ranking) {
    ++comparison_;
    const int64_t at = now();
    std::vector<AccountEvent> events;
    for (size_t row = 0; row < ranking.records().size(); ++row)
        note(stateOf(ranking, row), events, at);
    for (auto it = recorded_.begin(); it != recorded_.end();) {
        if (it->seenIn == comparison_) {
            ++it;
            continue;
        }
        AccountState gone;
        gone.file = it.key();
        events.push_back({AccountEvent::Removed, at, std::move(gone)});
        it = recorded_.erase(it);
    }
    began_ = began_ || !recorded_.isEmpty();
    writer_.hand(std::move(events));
}

void HistoryRecorder::compare(const LiveRanking &ranking, const std::vector<uint32_t> &places) {
    const int64_t at = now();
    std::vector<AccountEvent> events;
    for (uint32_t place : places) {
        if (const std::optional<size_t> row = ranking.rowOf(place)) {
            note(stateOf(ranking, *row), events, at);
            continue;
        }
        AccountState gone;
        gone.file = accountOf(ranking, place);
        if (recorded_.remove(gone.file) > 0)
            events.push_back({AccountEvent::Removed, at, std::move(gone)});
    }
    began_ = began_ || !recorded_.isEmpty();
    writer_.hand(std::move(events));
}

} // namespace orvantis
