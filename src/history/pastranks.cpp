#include "history/pastranks.h"

#include "history/historyfile.h"
#include "scan/system/filenames.h"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

namespace orvantis {

namespace {

// The ranking's order: the highest level first; of the same level, the files in name order.
QHash<QByteArray, uint32_t> ranksOf(std::vector<AccountState> accounts) {
    std::sort(accounts.begin(), accounts.end(), [](const AccountState &a, const AccountState &b) {
        if (a.level != b.level)
            return a.level > b.level;
        return comesBeforeInNameOrder(std::string_view(a.file.constData(), a.file.size()),
                                      std::string_view(b.file.constData(), b.file.size()));
    });
    QHash<QByteArray, uint32_t> ranks;
    ranks.reserve(static_cast<qsizetype>(accounts.size()));
    for (size_t i = 0; i < accounts.size(); ++i)
        ranks.insert(accounts[i].file, static_cast<uint32_t>(i + 1));
    return ranks;
}

std::optional<HistoryFault> readPast(HistoryFile &file, int64_t now, PastRanks &past) {
    past.now = now;
    std::optional<int64_t> began;
    if (auto fault = file.beginning(began))
        return fault;
    if (!began)
        return std::nullopt;
    past.reachesDay = *began <= now - PastRanks::kDayMs;
    past.reachesWeek = *began <= now - PastRanks::kWeekMs;
    std::vector<AccountState> accounts;
    if (past.reachesDay) {
        if (auto fault = file.presentAt(now - PastRanks::kDayMs, accounts))
            return fault;
        past.day = ranksOf(std::move(accounts));
    }
    accounts.clear();
    if (past.reachesWeek) {
        if (auto fault = file.presentAt(now - PastRanks::kWeekMs, accounts))
            return fault;
        past.week = ranksOf(std::move(accounts));
    }
    std::vector<QByteArray> newcomers;
    if (auto fault = file.firstSeenAfter(std::max(*began, now - PastRanks::kWeekMs), newcomers))
        return fault;
    for (QByteArray &name : newcomers)
        past.newcomers.insert(std::move(name));
    return std::nullopt;
}

} // namespace

PastRankReader::PastRankReader(QString path) : path_(std::move(path)), thread_([this] { run(); }) {}

PastRankReader::~PastRankReader() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void PastRankReader::ask(int64_t now) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        asked_ = now;
    }
    wake_.notify_all();
}

std::shared_ptr<const PastRanks> PastRankReader::take() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::move(made_);
}

QString PastRankReader::problem() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return problem_;
}

void PastRankReader::run() {
    HistoryFile file;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || asked_; });
        if (stopping_)
            return;
        const int64_t now = *std::exchange(asked_, std::nullopt);
        lock.unlock();
        auto past = std::make_shared<PastRanks>();
        std::optional<HistoryFault> fault =
            file.isOpen() ? std::optional<HistoryFault>() : file.openForReading(path_);
        if (!fault)
            fault = readPast(file, now, *past);
        if (fault)
            file.close(); // opened anew next time
        lock.lock();
        problem_ = fault ? fault->text : QString();
        if (!fault)
            made_ = std::move(past);
    }
}

} // namespace orvantis
