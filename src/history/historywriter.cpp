#include "history/historywriter.h"

#include <chrono>
#include <utility>

namespace orvantis {

HistoryWriter::HistoryWriter(QString path, std::vector<AccountState> &present)
    : path_(std::move(path)) {
    std::optional<HistoryFault> fault = file_.open(path_);
    if (!fault)
        fault = file_.presentAccounts(present);
    if (fault && !fault->lasting)
        present.clear(); // compared with nothing: what is there now is written when it can be
    setFault(std::move(fault));
    thread_ = std::thread([this] { run(); });
}

HistoryWriter::~HistoryWriter() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void HistoryWriter::hand(std::vector<AccountEvent> events) {
    if (events.empty())
        return;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (fault_ && fault_->lasting)
            return; // never written: nothing to keep them for
        for (AccountEvent &event : events)
            waiting_.push_back(std::move(event));
        while (waiting_.size() > kMostWaiting) {
            waiting_.pop_front();
            ++dropped_;
        }
    }
    wake_.notify_all();
}

HistoryHealth HistoryWriter::health() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    HistoryHealth health{path_, fault_, since_};
    if (dropped_ > 0 && health.fault)
        health.fault->text +=
            QStringLiteral("; %1 of the oldest changes meanwhile were dropped").arg(dropped_);
    return health;
}

void HistoryWriter::setFault(std::optional<HistoryFault> fault) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (fault && !fault_)
        since_ = QDateTime::currentDateTimeUtc();
    if (!fault)
        since_ = QDateTime();
    if (!fault)
        dropped_ = 0;
    fault_ = std::move(fault);
}

void HistoryWriter::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_ || (!waiting_.empty() && !fault_)) {
        if (fault_ && fault_->lasting) {
            wake_.wait(lock, [this] { return stopping_; });
            return;
        }
        if (fault_) // tried again after a pause, events or not
            wake_.wait_for(lock, std::chrono::milliseconds(kRetryMs), [this] { return stopping_; });
        else
            wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
        if (stopping_ && (fault_ || waiting_.empty()))
            break;
        if (!fault_ && !stopping_) // the events of a burst gathered into one transaction
            wake_.wait_for(lock, std::chrono::milliseconds(kGatherMs),
                           [this] { return stopping_; });
        std::vector<AccountEvent> batch(std::make_move_iterator(waiting_.begin()),
                                        std::make_move_iterator(waiting_.end()));
        waiting_.clear();
        lock.unlock();
        std::optional<HistoryFault> fault =
            file_.isOpen() ? std::optional<HistoryFault>() : file_.open(path_);
        if (!fault)
            fault = file_.record(batch);
        if (fault && !fault->lasting)
            file_.close(); // opened anew when tried again: the file may have been replaced
        lock.lock();
        if (fault && !fault->lasting) // kept, in front of what came meanwhile
            waiting_.insert(waiting_.begin(), std::make_move_iterator(batch.begin()),
                            std::make_move_iterator(batch.end()));
        lock.unlock();
        setFault(std::move(fault));
        lock.lock();
    }
}

} // namespace orvantis
