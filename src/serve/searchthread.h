#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace orvantis {

// The one thread that makes searches' answers, in the order they come: a search costs more
// than a page, and on the serving threads a flood of them would keep pages waiting; here they
// wait for each other only.
class SearchThread {
public:
    SearchThread();
    ~SearchThread();
    SearchThread(const SearchThread &) = delete;
    SearchThread &operator=(const SearchThread &) = delete;

    // Whether `work` is taken: not once the thread stops.
    bool post(std::function<void()> work);
    // Makes what was posted, then ends the thread; the destructor does too.
    void stop();

private:
    void run();

    std::mutex lock_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> work_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace orvantis
