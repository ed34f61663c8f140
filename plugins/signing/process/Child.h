#pragma once
// A child program with any of its three standard streams redirected through
// pipes, and nothing else of ours: no shell in between, no handle or descriptor
// but its three streams. What it starts ends with it (POSIX: a process group of
// its own; Windows: a job object that ends everything in it when it closes).
// Failures are std::runtime_error naming the step and the system's error number.
// The system's parts live in Child_posix.cpp and Child_win32.cpp.
#include "process/StopSignal.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace process {

// Longest accepted command line, in characters.
constexpr size_t kMaxCommandLine = 1023;

// Words separated by blanks or tabs; double quotes group blanks into a word and
// are dropped ("a b" c -> [a b] [c]).
std::vector<std::string> splitCommandLine(const std::string& text);

// A program and its arguments, both as the log shows them and as the system
// hands them to the child. POSIX: an argument vector (the text is for the log);
// a program without a '/' is looked for on PATH. Windows: one text by the rules
// CommandLineToArgvW and the C runtime read; the program is started from the
// path given, never searched for.
class CommandLine {
public:
    // The program, in double quotes in the text.
    explicit CommandLine(std::string program);
    // One word, in quotes in the text when it needs them (always with `quoted`).
    CommandLine& add(const std::string& word, bool quoted = false);
    // Options as someone wrote them in a setting, after a blank even when there
    // are none: split into words by the system's rules (POSIX: splitCommandLine;
    // Windows: CommandLineToArgvW). The text holds them as written on POSIX and
    // each word quoted by the rules on Windows, so that a stray quote cannot
    // swallow the words after them.
    CommandLine& addAsWritten(const std::string& options);
    // The folder the child starts in; ours when never set.
    CommandLine& startIn(std::string folder);

    const std::string& program() const { return words_.front(); }
    const std::string& text() const { return text_; }
    // The program first, then every argument.
    const std::vector<std::string>& words() const { return words_; }
    const std::string& folder() const { return folder_; }

private:
    std::string text_;
    std::vector<std::string> words_;
    std::string folder_;
};

// The Java runtime's program on this system: "java"; on Windows "javaw.exe",
// which opens no console window.
extern const char kJavaProgram[];
// The command that tells where `program` is, as the system's own search finds
// it: POSIX `which NAME`; Windows the system folder's where.exe, run in the
// system folder, so that neither the current folder nor ours is searched
// before the system's and PATH's.
CommandLine locatorOf(const std::string& program);
// What to start for `program`, given what its locator printed: POSIX the name
// itself (PATH finds it as `which` did); Windows the first path printed, which
// must be a full path to a file. Empty when there is nothing to start.
std::string locatedProgram(const std::string& program, const std::string& located);

class Child {
public:
    explicit Child(CommandLine command);
    // Closes what is still open. A child that was started but not waited for
    // is ended with all it started, and collected.
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The show command and start-up flags are the window's (Windows; no meaning
    // on POSIX). Streams not redirected are connected to the null device.
    void start(uint16_t showCommand, uint32_t startupFlags, bool redirectInput, bool redirectOutput,
               bool redirectError);
    // Writes all bytes to the child's standard input; closes it when asked.
    void writeStdin(const std::string& bytes, bool close);
    // Clears `buffer` and fills it with one chunk of at most 1024 bytes; false
    // at the end of the stream (then the pipe is closed when asked).
    bool readStdout(std::string& buffer, bool closeAtEnd);
    bool readStderr(std::string& buffer, bool closeAtEnd);
    // Waits without limit for the child and collects its exit code (POSIX: 128
    // + the signal number when a signal ended it).
    void wait();
    // True, at once, when the child has ended. It is not collected (see wait),
    // so that ending what it left behind still reaches only its own.
    bool hasEnded();
    // Asks the child and all it started to end: POSIX SIGTERM to its group.
    // Windows has no such request for a windowless child: it is ended at once.
    void askToEnd();
    // Ends the child and all it started at once (POSIX SIGKILL to its group,
    // Windows the job's end); nothing once it has been waited for on POSIX.
    void terminate();

    bool started() const { return started_; }
    bool closed() const { return closed_; }
    uint32_t exitCode() const { return exitCode_; }
    // The system's process id; 0 before start.
    long pid() const;
    const std::string& commandLine() const { return command_.text(); }

    struct Impl;

private:
    enum class Stream { input, output, error };
    bool read(Stream stream, const char* name, std::string& buffer, bool closeAtEnd);
    // The system's part (Child_<system>.cpp): starting the program, and the
    // calls on its pipes and its process, each failing with the system's error.
    void launch(uint16_t showCommand, uint32_t startupFlags, bool redirectInput, bool redirectOutput,
                bool redirectError);
    bool isOpen(Stream stream) const;  // our end of the stream's pipe
    void close(Stream stream);
    void writeAll(const std::string& bytes);
    // At most `size` bytes; 0 at the end of the stream.
    size_t readSome(Stream stream, const char* name, char* data, size_t size);
    uint32_t waitForExit();
    // At once, without collecting it.
    bool hasExited();

    CommandLine command_;
    bool started_ = false;
    bool closed_ = false;
    uint32_t exitCode_ = 0;
    std::unique_ptr<Impl> impl_;
};

enum class RunEnd { exited, timedOut, stopped };

// How long a child asked to end may take before it is ended by force: after
// its time limit, and after a stop request, which has its own, shorter, limit
// because whoever asked for the stop waits for it. (Windows ends it at once.)
struct KillGrace {
    std::chrono::milliseconds afterTimeLimit;
    std::chrono::milliseconds afterStop;
};

// Waits for `child` until it ends, `limit` passes (zero: no limit) or `stop` is
// requested. In the two last cases the child is asked to end and ended by force
// when its grace has passed; a stop requested during the grace after a time
// limit shortens it to the stop's. Then what the child left running is ended
// too, and the child is waited for (its exit code is set).
RunEnd waitWithin(Child& child, std::chrono::milliseconds limit, const StopSignal& stop, KillGrace grace);

}  // namespace process
