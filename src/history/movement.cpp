#include "history/movement.h"

#include <QDateTime>

namespace orvantis {

// A newcomer seen live is in the history's own once it is written, which takes at most a few
// seconds; the past ranks of a later moment have it.
constexpr int64_t kWrittenWithinMs = 60'000;

PastPlace MovementKeeper::pastOf(const LiveRanking &ranking, uint32_t place) const {
    const std::string_view name = ranking.rawName(place);
    const QByteArray file =
        QByteArray::fromRawData(name.data(), static_cast<qsizetype>(name.size()));
    PastPlace past;
    past.day = past_->day.value(file, 0);
    past.week = past_->week.value(file, 0);
    const auto seen = newcomers_.constFind(file);
    past.isNew = past_->newcomers.contains(file) ||
                 (seen != newcomers_.constEnd() &&
                  *seen > QDateTime::currentMSecsSinceEpoch() - PastRanks::kWeekMs);
    past.peak = peakOf_(file);
    return past;
}

void MovementKeeper::pastMade(std::shared_ptr<const PastRanks> past, const LiveRanking &ranking) {
    past_ = std::move(past);
    for (auto it = newcomers_.begin(); it != newcomers_.end();)
        it = *it < past_->now - kWrittenWithinMs ? newcomers_.erase(it) : std::next(it);
    rankingChanged(ranking, true, {});
}

void MovementKeeper::rankingChanged(const LiveRanking &ranking, bool all,
                                    const std::vector<uint32_t> &places) {
    const AccountRecords &records = ranking.records();
    if (all) {
        auto table = std::make_shared<MovementTable>();
        table->reachesDay = past_->reachesDay;
        table->reachesWeek = past_->reachesWeek;
        for (size_t row = 0; row < records.size(); ++row) {
            const uint32_t place = records[row].place;
            if (place >= table->byPlace.size())
                table->byPlace.resize(place + 1);
            table->byPlace[place] = pastOf(ranking, place);
        }
        table_ = std::move(table);
        return;
    }
    std::shared_ptr<MovementTable> copy;
    for (uint32_t place : places) {
        if (!ranking.rowOf(place))
            continue; // no row: none to show it in
        const PastPlace past = pastOf(ranking, place);
        const PastPlace now = table_->of(place);
        if (past.day == now.day && past.week == now.week && past.isNew == now.isNew &&
            past.peak == now.peak)
            continue;
        if (!copy)
            copy = std::make_shared<MovementTable>(*table_);
        if (place >= copy->byPlace.size())
            copy->byPlace.resize(place + 1);
        copy->byPlace[place] = past;
    }
    if (copy)
        table_ = std::move(copy);
}

std::vector<std::pair<QByteArray, uint32_t>>
MovementKeeper::betterPeaks(const LiveRanking &ranking) {
    std::vector<std::pair<QByteArray, uint32_t>> better;
    std::shared_ptr<MovementTable> copy;
    const AccountRecords &records = ranking.records();
    for (size_t row = 0; row < records.size(); ++row) {
        const uint32_t place = records[row].place;
        const auto rank = static_cast<uint32_t>(row + 1);
        const uint32_t peak = table_->of(place).peak;
        if (peak != 0 && peak <= rank)
            continue;
        if (!copy)
            copy = std::make_shared<MovementTable>(*table_);
        if (place >= copy->byPlace.size())
            copy->byPlace.resize(place + 1);
        copy->byPlace[place].peak = rank;
        const std::string_view name = ranking.rawName(place);
        better.emplace_back(QByteArray(name.data(), static_cast<qsizetype>(name.size())), rank);
    }
    if (copy)
        table_ = std::move(copy);
    return better;
}

} // namespace orvantis
