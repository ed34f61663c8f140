#pragma once
// A program started as a child: exactly these words (no shell in between), and
// nothing of ours but its three standard streams (not the server's socket, not
// a log file, not the page's connection).
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zelvo {

// Windows: the process's own standard handles are made non-inheritable, so that
// a program the shell starts for us (a browser, ShellExecuteW) inherits nothing
// of ours either; ChildProcess hands its children copies on purpose. Linux:
// nothing to do (children are started with their streams set and the rest closed).
void keepStandardStreamsFromChildren();

class ChildProcess {
public:
    struct Options {
        // Standard output to a pipe the caller reads (readOutput), or to the null device.
        bool captureOutput = true;
        // Standard error to the null device instead of ours.
        bool quietErrors = false;
        // Windows: the child may come to the front and take the keyboard.
        bool mayTakeForeground = false;
    };

    // `words[0]` is the program: a path, or a name looked for on PATH. Null, with
    // the system's reason in `error`, when it cannot be started.
    static std::unique_ptr<ChildProcess> start(const std::vector<std::string>& words, const Options& options,
                                               std::string& error);
    // Closes our ends of its streams. A child nobody waited for is collected in
    // the background (it is not killed: see kill()).
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Reads its standard output to the end. Bytes beyond `maxBytes` are read and
    // dropped, and the result is false. The buffer is grown by hand, so that
    // no copy of a secret (a PIN) is left behind in freed memory.
    bool readOutput(std::string& out, std::size_t maxBytes);
    // Its exit code once it has ended within `limit` (-1 when it did not end
    // normally, e.g. killed); none while it still runs.
    std::optional<int> waitFor(std::chrono::milliseconds limit);
    // The same without a limit, for a child that someone ends (the user closing a
    // dialog, or kill() from another thread).
    int wait();
    // Ends it at once (SIGKILL, TerminateProcess); then waitFor collects it.
    void kill();
    // The system's process id.
    long id() const;

    struct Impl;

private:
    explicit ChildProcess(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace zelvo
