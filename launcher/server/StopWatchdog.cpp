#include "StopWatchdog.h"

#include "zelvo/log.h"

#include <cstdlib>

namespace {
constexpr auto pollStep = std::chrono::milliseconds(100);
}

StopWatchdog::StopWatchdog(std::chrono::milliseconds grace, Hooks hooks)
    : grace_(grace), hooks_(std::move(hooks)), thread_(&StopWatchdog::watch, this) {}

StopWatchdog::~StopWatchdog() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        disarmed_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void StopWatchdog::exitNow() { std::_Exit(1); }

void StopWatchdog::watch() {
    using Clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> lock(mutex_);
    bool stopping = false;
    Clock::time_point deadline;
    while (!wake_.wait_for(lock, pollStep, [this] { return disarmed_; })) {
        if (!stopping) {
            stopping = hooks_.stopRequested();
            deadline = Clock::now() + grace_;
            continue;
        }
        if (Clock::now() < deadline) continue;
        LOG_ERROR("StopWatchdog::watch") << hooks_.stuck() << " no terminó en " << grace_.count() / 1000.0
                                         << " s tras la orden de detener; se termina el proceso sin descargar "
                                            "la aplicación";
        hooks_.expire();
        return;
    }
}
