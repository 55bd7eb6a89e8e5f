#pragma once

#include "scan/reading/accountreading.h"
#include "scan/reading/inifiles.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

// An account-file reader that holds every read until the test opens the gate. Held reads give
// up when the scan is asked to stop, unless the gate is told to ignore that. The reader holds a
// share of its gate, so that a scan left running past the test can still pass it.
class GatedReader : public std::enable_shared_from_this<GatedReader> {
public:
    static std::shared_ptr<GatedReader> make() { return std::make_shared<GatedReader>(); }

    void open() {
        const std::lock_guard<std::mutex> guard(lock_);
        open_ = true;
        changed_.notify_all();
    }
    // Reads that do not give up when asked to stop, as a read stuck on a dead disk would.
    void ignoreStop() { ignoreStop_ = true; }
    // How many reads the gate holds now.
    int held() const { return held_; }

    orvantis::AccountFileReader reader() {
        return [gate = shared_from_this()](orvantis::IniLookup &lookup, const QByteArray &path,
                                           const std::atomic<bool> &stop) {
            std::unique_lock<std::mutex> guard(gate->lock_);
            ++gate->held_;
            // The scan's stop is no condition this gate is told of, so it is looked at often.
            while (!gate->open_ && (gate->ignoreStop_ || !stop))
                gate->changed_.wait_for(guard, std::chrono::milliseconds(5));
            --gate->held_;
            guard.unlock();
            return readIniFile(lookup, path, &stop);
        };
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool open_ = false;
    std::atomic<bool> ignoreStop_{false};
    std::atomic<int> held_{0};
};
