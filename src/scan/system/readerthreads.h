#pragma once

#include <pthread.h>

#include <cstddef>
#include <functional>
#include <vector>

namespace orvantis {

// Threads that read account files, all running the same work, joined when this goes. Each has a
// small stack: a reader needs little, and a scan may start 64 of them, which with the system's
// default stacks would take half a gigabyte of address space.
class ReaderThreads {
public:
    static constexpr size_t kStackSize = 512 * 1024;

    ReaderThreads() = default;
    ~ReaderThreads();
    ReaderThreads(const ReaderThreads &) = delete;
    ReaderThreads &operator=(const ReaderThreads &) = delete;

    // Starts up to `count` threads, each running `work` once, which must not throw; returns how
    // many started. The system may give fewer (or none) when it is short of threads or memory;
    // the caller then does the work with those there are.
    size_t start(size_t count, std::function<void()> work) noexcept;
    // Waits for every thread started to end.
    void joinAll() noexcept;

private:
    static void *run(void *self);
    std::function<void()> work_;
    std::vector<pthread_t> threads_;
};

} // namespace orvantis
