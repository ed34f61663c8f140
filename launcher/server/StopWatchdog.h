#pragma once
// Makes a stop final. Once the server has been asked to stop (a stop signal, the
// page's close, the idle time-out, the application's close), the run must end
// within the grace time; a hosted application that does not cooperate (ignores
// its close, never reports its start, blocks the server thread) would otherwise
// keep the process alive for ever. When the grace time passes, the watchdog
// writes an error record naming what did not end and ends the process with exit
// code 1 at once, without unloading anything: a library still running code must
// stay mapped.
//
// Its thread polls the two questions every 100 ms; the stop flag is set from a
// signal handler, which can wake nobody.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class StopWatchdog {
public:
    struct Hooks {
        std::function<bool()> stopRequested;   // has anyone asked the server to stop?
        std::function<std::string()> stuck;    // what has not ended yet, in the user's words
        std::function<void()> expire;          // ends the process (tests replace it)
    };

    StopWatchdog(std::chrono::milliseconds grace, Hooks hooks);
    // Disarms: the run has ended in order.
    ~StopWatchdog();
    StopWatchdog(const StopWatchdog&) = delete;
    StopWatchdog& operator=(const StopWatchdog&) = delete;

    // The process's end after an expired grace time: exit code 1, no unloading.
    static void exitNow();

private:
    void watch();

    std::chrono::milliseconds grace_;
    Hooks hooks_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool disarmed_ = false;  // guarded by mutex_
    std::thread thread_;
};
