#pragma once
// A request to stop, made on one thread and awaited on another.
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace process {

class StopSignal {
public:
    void request() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requested_ = true;
        }
        changed_.notify_all();
    }
    bool requested() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return requested_;
    }
    // Sleeps up to `period`, less when a stop is requested; whether one was.
    bool waitFor(std::chrono::milliseconds period) const {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, period, [this] { return requested_; });
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool requested_ = false;  // guarded by mutex_
};

}  // namespace process
