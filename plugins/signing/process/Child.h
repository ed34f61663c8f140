#pragma once
// A child program started with posix_spawn (no shell), any of its three
// standard streams redirected through pipes. The command line is kept as text
// for the log and the length rule; the program gets the same words as its
// argument vector. Failures are std::runtime_error naming the step and errno.
#include "process/StopSignal.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace process {

// Longest accepted command line, in characters.
constexpr size_t kMaxCommandLine = 1023;

// Words separated by blanks or tabs; double quotes group blanks into a word and
// are dropped ("a b" c -> [a b] [c]).
std::vector<std::string> splitCommandLine(const std::string& text);

// Owns one file descriptor.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& o) noexcept : fd_(o.release()) {}
    UniqueFd& operator=(UniqueFd&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the descriptor held; false (errno set) when close failed.
    bool reset(int fd = -1);

private:
    int fd_ = -1;
};

class Child {
public:
    // The words of `commandLine` (splitCommandLine) are the argument vector.
    explicit Child(std::string commandLine);
    // `args` are the words of `commandLine`, already split by the caller.
    Child(std::string commandLine, std::vector<std::string> args);
    // Closes what is still open; kills and reaps a child that was started but
    // not waited for.
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The show command and start-up flags have no meaning here (no windows);
    // they are kept so that callers state what they ask for. Streams not
    // redirected are connected to /dev/null.
    void start(uint16_t showCommand, uint32_t startupFlags, bool redirectInput, bool redirectOutput,
               bool redirectError);
    // Writes all bytes to the child's standard input; closes it when asked.
    void writeStdin(const std::string& bytes, bool close);
    // Clears `buffer` and fills it with one chunk of at most 1024 bytes; false
    // at the end of the stream (then the pipe is closed when asked).
    bool readStdout(std::string& buffer, bool closeAtEnd);
    bool readStderr(std::string& buffer, bool closeAtEnd);
    // Waits without limit for the child and collects its exit code (128 + the
    // signal number when a signal ended it).
    void wait();
    // True, at once, when the child has ended; it is not collected (see wait),
    // so its process and group numbers stay its own until then.
    bool hasEnded();
    // Sends `signalNumber` to the child and whatever it started (the child leads
    // a process group of its own); nothing once it has been waited for.
    void signal(int signalNumber);

    bool started() const { return started_; }
    bool closed() const { return closed_; }
    uint32_t exitCode() const { return exitCode_; }
    pid_t pid() const { return pid_; }
    const std::string& commandLine() const { return commandLine_; }

private:
    // Stdin: the parent writes; stdout and stderr: the parent reads.
    struct Pipe {
        UniqueFd parent;
        UniqueFd child;
    };
    void openPipe(Pipe& pipe, bool parentWrites, const char* traceText);
    bool read(Pipe& pipe, const char* name, std::string& buffer, bool closeAtEnd);

    bool started_ = false;
    bool closed_ = false;
    uint32_t exitCode_ = 0;
    std::string commandLine_;
    std::vector<std::string> args_;
    pid_t pid_ = -1;
    Pipe in_, out_, err_;
};

enum class RunEnd { exited, timedOut, stopped };

// How long a child asked to end (SIGTERM) may take before it is killed
// (SIGKILL): after its time limit, and after a stop request, which has its
// own, shorter, limit because whoever asked for the stop waits for it.
struct KillGrace {
    std::chrono::milliseconds afterTimeLimit;
    std::chrono::milliseconds afterStop;
};

// Waits for `child` until it ends, `limit` passes (zero: no limit) or `stop` is
// requested. In the two last cases the child is asked to end and killed when its
// grace has passed; a stop requested during the grace after a time limit
// shortens it to the stop's. Then what the child left running in its process
// group is killed, and the child is waited for (its exit code is set).
RunEnd waitWithin(Child& child, std::chrono::milliseconds limit, const StopSignal& stop, KillGrace grace);

}  // namespace process
