#pragma once
// The three jobs that run on their own threads while a child runs: one feeds
// its standard input, one collects its standard output, one logs its standard
// error line by line. Each touches only its own pipe of the child.
#include "process/Child.h"

#include <string>
#include <thread>
#include <vector>

namespace process {

// Writes `bytes` and closes the input. A failure is logged ("ERROR: ...") and
// returned; empty when all went well.
std::string writeStdinWorker(Child& child, const std::string& bytes);
// Appends everything the child writes on standard output to `out`. A read
// failure ends the collection; it is logged and returned.
std::string collectStdoutWorker(Child& child, std::string& out);
// Logs every standard-error line at info level as "[stderr] " + line.
std::string logStderrWorker(Child& child);

// Cuts a stream into lines at "\n" (a "\r" before it is dropped), keeping a
// piece without its line break for the next chunk.
class LineSplitter {
public:
    std::vector<std::string> feed(const std::string& chunk);
    // What is left when the stream ends (empty when nothing is).
    std::string finish();

    // A piece longer than this is passed on as a line of its own.
    static constexpr size_t kLongestKept = 65536;

private:
    std::string pending_;
};

// A thread that is joined when it goes out of scope, so that an early exit
// never leaves one running.
class JoiningThread {
public:
    template <typename F>
    explicit JoiningThread(F&& f) : thread_(std::forward<F>(f)) {}
    ~JoiningThread() { join(); }
    JoiningThread(const JoiningThread&) = delete;
    JoiningThread& operator=(const JoiningThread&) = delete;
    void join() {
        if (thread_.joinable()) thread_.join();
    }

private:
    std::thread thread_;
};

}  // namespace process
