// The parts of the child-process library that read the same on every system.
#include "process/Child.h"

#include "process/Log.h"

#include <algorithm>
#include <stdexcept>
#include <thread>

namespace process {

std::vector<std::string> splitCommandLine(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

CommandLine::CommandLine(std::string program) : text_("\"" + program + "\""), words_{std::move(program)} {}

CommandLine& CommandLine::startIn(std::string folder) {
    folder_ = std::move(folder);
    return *this;
}

void Child::start(uint16_t showCommand, uint32_t startupFlags, bool redirectInput, bool redirectOutput,
                  bool redirectError) {
    if (command_.program().empty()) throw std::runtime_error("invalid argument for command in Child");
    if (started_) throw std::runtime_error("invalid state: child was already started");
    launch(showCommand, startupFlags, redirectInput, redirectOutput, redirectError);
}

void Child::writeStdin(const std::string& bytes, bool close) {
    if (!isOpen(Stream::input)) throw std::runtime_error("illegal state, child' stdin is not open");
    PROCESS_LOG(trace, "writing " + std::to_string(bytes.size()) + " bytes");
    writeAll(bytes);
    PROCESS_LOG(trace, std::to_string(bytes.size()) + " bytes written");
    if (close) this->close(Stream::input);
}

bool Child::readStdout(std::string& buffer, bool closeAtEnd) { return read(Stream::output, "stdout", buffer, closeAtEnd); }
bool Child::readStderr(std::string& buffer, bool closeAtEnd) { return read(Stream::error, "stderr", buffer, closeAtEnd); }

bool Child::read(Stream stream, const char* name, std::string& buffer, bool closeAtEnd) {
    if (!isOpen(stream)) throw std::runtime_error(std::string("illegal state, child' ") + name + " is not open");
    buffer.clear();
    PROCESS_LOG(trace, std::string("reading child's ") + name + "...");
    char chunk[1024];
    size_t n = readSome(stream, name, chunk, sizeof chunk);
    if (n == 0) {
        PROCESS_LOG(trace, std::string("child's ") + name + " broken");
        if (closeAtEnd) close(stream);
        return false;
    }
    buffer.assign(chunk, n);
    PROCESS_LOG(trace, std::to_string(n) + " bytes read from " + name);
    return true;
}

void Child::wait() {
    if (!started_) throw std::runtime_error("invalid state: child must be started");
    if (closed_) throw std::runtime_error("invalid state: child was already closed");
    PROCESS_LOG(trace, "waiting for child...");
    exitCode_ = waitForExit();
    closed_ = true;
    PROCESS_LOG(trace, "child exit code is " + std::to_string(exitCode_));
    PROCESS_LOG(trace, "child is closed");
}

bool Child::hasEnded() {
    if (!started_) throw std::runtime_error("invalid state: child must be started");
    return closed_ || hasExited();
}

RunEnd waitWithin(Child& child, std::chrono::milliseconds limit, const StopSignal& stop, KillGrace grace) {
    using Clock = std::chrono::steady_clock;
    constexpr auto step = std::chrono::milliseconds(50);
    const auto deadline = Clock::now() + limit;
    RunEnd end = RunEnd::exited;
    while (!child.hasEnded()) {
        if (stop.requested()) end = RunEnd::stopped;
        else if (limit.count() > 0 && Clock::now() >= deadline) end = RunEnd::timedOut;
        if (end != RunEnd::exited) break;
        stop.waitFor(step);
    }
    if (end != RunEnd::exited) {
        PROCESS_LOG(warning, std::string(end == RunEnd::stopped ? "stop requested" : "time limit reached") +
                                 ": ending child " + std::to_string(child.pid()));
        child.askToEnd();
        auto killAt = Clock::now() + (end == RunEnd::stopped ? grace.afterStop : grace.afterTimeLimit);
        bool stopSeen = end == RunEnd::stopped;
        while (!child.hasEnded()) {
            if (!stopSeen && stop.requested()) {
                stopSeen = true;
                killAt = std::min(killAt, Clock::now() + grace.afterStop);
            }
            if (Clock::now() >= killAt) {
                PROCESS_LOG(warning, "child " + std::to_string(child.pid()) + " still there: killed");
                break;
            }
            // Once a stop is seen its signal wakes no more: a plain sleep.
            if (stopSeen) std::this_thread::sleep_for(step);
            else stop.waitFor(step);
        }
    }
    // Whatever the child started and left behind could hold its pipes open and
    // keep the stream workers waiting for ever: it goes too. The child is not
    // collected yet, so what is ended is still only its own.
    child.terminate();
    child.wait();
    return end;
}

}  // namespace process
