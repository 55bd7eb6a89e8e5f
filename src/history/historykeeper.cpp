#include "history/historykeeper.h"

#include <utility>

namespace orvantis {

HistoryKeeper::HistoryKeeper(QString path, std::function<void(const HistoryHealth &)> told)
    : writer_(std::move(path), present_), recorder_(writer_, present_), told_(std::move(told)) {
    std::vector<AccountState>().swap(present_); // the recorder keeps what it needs of them
    connect(&healthCheck_, &QTimer::timeout, this, &HistoryKeeper::lookAtHealth);
    healthCheck_.start(kHealthMs);
    lookAtHealth();
}

void HistoryKeeper::record(const LiveRanking &ranking, bool all,
                           const std::vector<uint32_t> &places) {
    if (all)
        recorder_.compareAll(ranking);
    else if (!places.empty())
        recorder_.compare(ranking, places);
}

void HistoryKeeper::lookAtHealth() {
    const HistoryHealth health = writer_.health();
    std::optional<QString> fault;
    if (health.fault)
        fault = health.fault->text;
    if (fault == toldFault_)
        return;
    toldFault_ = fault;
    told_(health);
}

} // namespace orvantis
