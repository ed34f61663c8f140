#include "process/Child.h"

#include "process/Log.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <stdexcept>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace process {
namespace {

[[noreturn]] void fail(const std::string& what, int err) {
    throw std::runtime_error(what + " failed with " + std::to_string(err));
}

// posix_spawn's two helper objects, released whatever happens.
struct SpawnActions {
    posix_spawn_file_actions_t actions;
    SpawnActions() { posix_spawn_file_actions_init(&actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
};
struct SpawnAttributes {
    posix_spawnattr_t attr;
    SpawnAttributes() { posix_spawnattr_init(&attr); }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attr); }
};

// A write to a pipe whose reader is gone raises SIGPIPE, which would end the
// whole host process. Blocked in the writing thread, it becomes EPIPE; the
// pending signal is then taken back so that it never fires later.
class SigpipeGuard {
public:
    SigpipeGuard() {
        sigemptyset(&pipeSet_);
        sigaddset(&pipeSet_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSet_, &old_);
    }
    ~SigpipeGuard() {
        if (raised_) {
            struct timespec zero {};
            while (sigtimedwait(&pipeSet_, nullptr, &zero) == SIGPIPE) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    void raised() { raised_ = true; }

private:
    sigset_t pipeSet_, old_;
    bool raised_ = false;
};

}  // namespace

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

bool UniqueFd::reset(int fd) {
    bool ok = true;
    if (fd_ >= 0 && ::close(fd_) != 0 && errno != EINTR) ok = false;
    fd_ = fd;
    return ok;
}

Child::Child(std::string commandLine) : commandLine_(std::move(commandLine)) {
    args_ = splitCommandLine(commandLine_);
}

Child::Child(std::string commandLine, std::vector<std::string> args)
    : commandLine_(std::move(commandLine)), args_(std::move(args)) {}

Child::~Child() {
    in_.parent.reset();
    out_.parent.reset();
    err_.parent.reset();
    // A child nobody waited for (a run cut short by a failure) is not left behind.
    if (started_ && !closed_) {
        signal(SIGKILL);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

void Child::openPipe(Pipe& pipe, bool parentWrites, const char* traceText) {
    int fds[2];
    // Close-on-exec on both ends: the child gets its end only through the dup2
    // onto 0, 1 or 2, and never sees the parent's end.
    if (pipe2(fds, O_CLOEXEC) != 0) fail("CreatePipe", errno);
    UniqueFd readEnd(fds[0]), writeEnd(fds[1]);
    pipe.parent = parentWrites ? std::move(writeEnd) : std::move(readEnd);
    pipe.child = parentWrites ? std::move(readEnd) : std::move(writeEnd);
    PROCESS_LOG(trace, traceText);
}

void Child::start(uint16_t showCommand, uint32_t startupFlags, bool redirectInput, bool redirectOutput,
                  bool redirectError) {
    (void)showCommand;
    (void)startupFlags;
    if (commandLine_.empty() || args_.empty()) throw std::runtime_error("invalid argument for command in Child");
    if (started_) throw std::runtime_error("invalid state: child was already started");
    if (commandLine_.size() > kMaxCommandLine)
        throw std::runtime_error("La línea de comandos es demasiado larga: " + std::to_string(commandLine_.size()) +
                                 " caracteres (se admiten hasta " + std::to_string(kMaxCommandLine) + ")");
    if (redirectInput) openPipe(in_, true, "child' stdinput opened");
    if (redirectOutput) openPipe(out_, false, "child' stdout opened");
    if (redirectError) openPipe(err_, false, "child' stderr opened");

    SpawnActions fa;
    auto connect = [&fa](Pipe& pipe, int target, int nullMode) {
        int rc = pipe.child ? posix_spawn_file_actions_adddup2(&fa.actions, pipe.child.get(), target)
                            : posix_spawn_file_actions_addopen(&fa.actions, target, "/dev/null", nullMode, 0);
        if (rc != 0) fail("CreateProcess", rc);
    };
    connect(in_, STDIN_FILENO, O_RDONLY);
    connect(out_, STDOUT_FILENO, O_WRONLY);
    connect(err_, STDERR_FILENO, O_WRONLY);
    // Nothing else of the host (its sockets, files) reaches the child.
    if (int rc = posix_spawn_file_actions_addclosefrom_np(&fa.actions, 3); rc != 0) fail("CreateProcess", rc);

    SpawnAttributes sa;
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&sa.attr, &none);
    posix_spawnattr_setsigdefault(&sa.attr, &defaults);
    // A group of its own: an end asked of the child reaches what it started too,
    // which may hold its pipes open.
    posix_spawnattr_setpgroup(&sa.attr, 0);
    posix_spawnattr_setflags(&sa.attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

    std::vector<char*> argv;
    for (std::string& a : args_) argv.push_back(a.data());
    argv.push_back(nullptr);
    PROCESS_LOG(trace, "starting '" + commandLine_ + "'");
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, argv[0], &fa.actions, &sa.attr, argv.data(), environ);
    if (rc != 0) {
        in_ = Pipe{};
        out_ = Pipe{};
        err_ = Pipe{};
        fail("CreateProcess", rc);
    }
    pid_ = pid;
    started_ = true;
    // The parent's copies of the child's ends go at once, so that the ends of
    // the streams are seen when the child closes them.
    for (Pipe* p : {&in_, &out_, &err_})
        if (p->child && !p->child.reset()) PROCESS_LOG(warning, "CloseHandle failed with " + std::to_string(errno));
}

void Child::writeStdin(const std::string& bytes, bool close) {
    if (!in_.parent) throw std::runtime_error("illegal state, child' stdin is not open");
    PROCESS_LOG(trace, "writing " + std::to_string(bytes.size()) + " bytes");
    {
        SigpipeGuard guard;
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(in_.parent.get(), bytes.data() + done, bytes.size() - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                int err = errno;
                if (err == EPIPE) guard.raised();
                in_.parent.reset();
                fail("WriteFile", err);
            }
            done += static_cast<size_t>(n);
        }
    }
    PROCESS_LOG(trace, std::to_string(bytes.size()) + " bytes written");
    if (close) in_.parent.reset();
}

bool Child::readStdout(std::string& buffer, bool closeAtEnd) { return read(out_, "stdout", buffer, closeAtEnd); }
bool Child::readStderr(std::string& buffer, bool closeAtEnd) { return read(err_, "stderr", buffer, closeAtEnd); }

bool Child::read(Pipe& pipe, const char* name, std::string& buffer, bool closeAtEnd) {
    if (!pipe.parent) throw std::runtime_error(std::string("illegal state, child' ") + name + " is not open");
    buffer.clear();
    PROCESS_LOG(trace, std::string("reading child's ") + name + "...");
    char chunk[1024];
    ssize_t n;
    do {
        n = ::read(pipe.parent.get(), chunk, sizeof chunk);
    } while (n < 0 && errno == EINTR);
    if (n < 0) throw std::runtime_error(std::string("ReadFile ") + name + " failed with " + std::to_string(errno));
    if (n == 0) {
        PROCESS_LOG(trace, std::string("child's ") + name + " broken");
        if (closeAtEnd) pipe.parent.reset();
        return false;
    }
    buffer.assign(chunk, static_cast<size_t>(n));
    PROCESS_LOG(trace, std::to_string(n) + " bytes read from " + name);
    return true;
}

void Child::wait() {
    if (!started_) throw std::runtime_error("invalid state: child must be started");
    if (closed_) throw std::runtime_error("invalid state: child was already closed");
    PROCESS_LOG(trace, "waiting for child...");
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0) {
        if (errno != EINTR) fail("WaitForSingleObject", errno);
    }
    if (WIFEXITED(status))
        exitCode_ = static_cast<uint32_t>(WEXITSTATUS(status));
    else if (WIFSIGNALED(status))
        exitCode_ = 128u + static_cast<uint32_t>(WTERMSIG(status));
    else
        exitCode_ = 1;
    PROCESS_LOG(trace, "child exit code is " + std::to_string(exitCode_));
    closed_ = true;
    PROCESS_LOG(trace, "child is closed");
}

bool Child::hasEnded() {
    if (!started_) throw std::runtime_error("invalid state: child must be started");
    if (closed_) return true;
    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        if (errno != EINTR) fail("WaitForSingleObject", errno);
    }
    return info.si_pid != 0;
}

void Child::signal(int signalNumber) {
    // Once waited for, the number may belong to another process.
    if (!started_ || closed_) return;
    if (::kill(-pid_, signalNumber) != 0) ::kill(pid_, signalNumber);
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
        child.signal(SIGTERM);
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
    // collected yet, so its group's number still names its own group.
    child.signal(SIGKILL);
    child.wait();
    return end;
}

}  // namespace process
