#include "serve/searchthread.h"

namespace orvantis {

SearchThread::SearchThread() : thread_([this] { run(); }) {}

SearchThread::~SearchThread() {
    stop();
}

void SearchThread::stop() {
    {
        const std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    posted_.notify_one();
    if (thread_.joinable())
        thread_.join();
}

bool SearchThread::post(std::function<void()> work) {
    {
        const std::lock_guard<std::mutex> guard(lock_);
        if (stopping_)
            return false;
        work_.push_back(std::move(work));
    }
    posted_.notify_one();
    return true;
}

void SearchThread::run() {
    for (;;) {
        std::function<void()> next;
        {
            std::unique_lock<std::mutex> guard(lock_);
            posted_.wait(guard, [this] { return stopping_ || !work_.empty(); });
            if (work_.empty())
                return; // stopping, and nothing left to make
            next = std::move(work_.front());
            work_.pop_front();
        }
        next();
    }
}

} // namespace orvantis
