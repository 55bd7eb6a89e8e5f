#include "scan/system/readerthreads.h"

#include <new>

namespace orvantis {

ReaderThreads::~ReaderThreads() {
    joinAll();
}

void *ReaderThreads::run(void *self) {
    static_cast<ReaderThreads *>(self)->work_();
    return nullptr;
}

size_t ReaderThreads::start(size_t count, std::function<void()> work) noexcept {
    if (count == 0 || !threads_.empty())
        return 0;
    try {
        threads_.reserve(count);
    } catch (const std::bad_alloc &) {
        return 0;
    }
    work_ = std::move(work);
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0)
        return 0;
    // Where the system will not have stacks this small, its own size it is.
    if (pthread_attr_setstacksize(&attributes, kStackSize) != 0) {
        pthread_attr_destroy(&attributes);
        if (pthread_attr_init(&attributes) != 0)
            return 0;
    }
    for (size_t t = 0; t < count; ++t) {
        pthread_t thread;
        if (pthread_create(&thread, &attributes, &ReaderThreads::run, this) != 0)
            break; // no more threads to be had: those there are do the work
        threads_.push_back(thread);
    }
    pthread_attr_destroy(&attributes);
    return threads_.size();
}

void ReaderThreads::joinAll() noexcept {
    for (pthread_t thread : threads_)
        pthread_join(thread, nullptr);
    threads_.clear();
}

} // namespace orvantis
