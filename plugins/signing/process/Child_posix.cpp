// The child process on POSIX: posix_spawn (no shell) with pipes, the child
// leading a process group of its own so that an end asked of it reaches what it
// started too.
#include "process/Child.h"

#include "process/Log.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace process {
namespace {

[[noreturn]] void fail(const std::string& what, int err) {
    throw std::runtime_error(what + " failed with " + std::to_string(err));
}

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
    bool reset(int fd = -1) {
        bool ok = true;
        if (fd_ >= 0 && ::close(fd_) != 0 && errno != EINTR) ok = false;
        fd_ = fd;
        return ok;
    }

private:
    int fd_ = -1;
};

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

// Stdin: the parent writes; stdout and stderr: the parent reads.
struct Pipe {
    UniqueFd parent;
    UniqueFd child;
};

}  // namespace

const char kJavaProgram[] = "java";

CommandLine& CommandLine::add(const std::string& word, bool quoted) {
    // The text is only for the log: quotes show where a word with blanks begins and ends.
    quoted = quoted || word.find_first_of(" \t") != std::string::npos;
    text_ += " " + (quoted ? "\"" + word + "\"" : word);
    words_.push_back(word);
    return *this;
}

CommandLine& CommandLine::addAsWritten(const std::string& options) {
    text_ += " " + options;
    for (std::string& word : splitCommandLine(options)) words_.push_back(std::move(word));
    return *this;
}

CommandLine locatorOf(const std::string& program) { return CommandLine("which").add(program); }

std::string locatedProgram(const std::string& program, const std::string&) { return program; }

struct Child::Impl {
    pid_t pid = -1;
    Pipe in, out, err;

    Pipe& pipe(Stream stream) { return stream == Stream::input ? in : stream == Stream::output ? out : err; }
    void openPipe(Pipe& pipe, bool parentWrites, const char* traceText);
    // Sends `signalNumber` to the child's group (or to the child alone).
    void signal(int signalNumber);
};

Child::Child(CommandLine command) : command_(std::move(command)), impl_(std::make_unique<Impl>()) {}

Child::~Child() {
    impl_->in.parent.reset();
    impl_->out.parent.reset();
    impl_->err.parent.reset();
    // A child nobody waited for (a run cut short by a failure) is not left behind.
    if (started_ && !closed_) {
        impl_->signal(SIGKILL);
        int status = 0;
        while (waitpid(impl_->pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

long Child::pid() const { return started_ ? static_cast<long>(impl_->pid) : 0; }

void Child::Impl::openPipe(Pipe& pipe, bool parentWrites, const char* traceText) {
    int fds[2];
    // Close-on-exec on both ends: the child gets its end only through the dup2
    // onto 0, 1 or 2, and never sees the parent's end.
    if (pipe2(fds, O_CLOEXEC) != 0) fail("CreatePipe", errno);
    UniqueFd readEnd(fds[0]), writeEnd(fds[1]);
    pipe.parent = parentWrites ? std::move(writeEnd) : std::move(readEnd);
    pipe.child = parentWrites ? std::move(readEnd) : std::move(writeEnd);
    PROCESS_LOG(trace, traceText);
}

void Child::launch(uint16_t, uint32_t, bool redirectInput, bool redirectOutput, bool redirectError) {
    const std::string& line = command_.text();
    if (line.size() > kMaxCommandLine)
        throw std::runtime_error("La línea de comandos es demasiado larga: " + std::to_string(line.size()) +
                                 " caracteres (se admiten hasta " + std::to_string(kMaxCommandLine) + ")");
    Impl& d = *impl_;
    if (redirectInput) d.openPipe(d.in, true, "child' stdinput opened");
    if (redirectOutput) d.openPipe(d.out, false, "child' stdout opened");
    if (redirectError) d.openPipe(d.err, false, "child' stderr opened");

    SpawnActions fa;
    auto connect = [&fa](Pipe& pipe, int target, int nullMode) {
        int rc = pipe.child ? posix_spawn_file_actions_adddup2(&fa.actions, pipe.child.get(), target)
                            : posix_spawn_file_actions_addopen(&fa.actions, target, "/dev/null", nullMode, 0);
        if (rc != 0) fail("CreateProcess", rc);
    };
    connect(d.in, STDIN_FILENO, O_RDONLY);
    connect(d.out, STDOUT_FILENO, O_WRONLY);
    connect(d.err, STDERR_FILENO, O_WRONLY);
    // Nothing else of the host (its sockets, files) reaches the child.
    if (int rc = posix_spawn_file_actions_addclosefrom_np(&fa.actions, 3); rc != 0) fail("CreateProcess", rc);
    if (!command_.folder().empty())
        if (int rc = posix_spawn_file_actions_addchdir_np(&fa.actions, command_.folder().c_str()); rc != 0)
            fail("CreateProcess", rc);

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

    std::vector<std::string> args = command_.words();
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    PROCESS_LOG(trace, "starting '" + line + "'");
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, argv[0], &fa.actions, &sa.attr, argv.data(), environ);
    if (rc != 0) {
        d.in = Pipe{};
        d.out = Pipe{};
        d.err = Pipe{};
        fail("CreateProcess", rc);
    }
    d.pid = pid;
    started_ = true;
    // The parent's copies of the child's ends go at once, so that the ends of
    // the streams are seen when the child closes them.
    for (Pipe* p : {&d.in, &d.out, &d.err})
        if (p->child && !p->child.reset()) PROCESS_LOG(warning, "CloseHandle failed with " + std::to_string(errno));
}

bool Child::isOpen(Stream stream) const { return static_cast<bool>(impl_->pipe(stream).parent); }

void Child::close(Stream stream) { impl_->pipe(stream).parent.reset(); }

void Child::writeAll(const std::string& bytes) {
    UniqueFd& in = impl_->in.parent;
    SigpipeGuard guard;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(in.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            if (err == EPIPE) guard.raised();
            in.reset();
            fail("WriteFile", err);
        }
        done += static_cast<size_t>(n);
    }
}

size_t Child::readSome(Stream stream, const char* name, char* data, size_t size) {
    ssize_t n;
    do {
        n = ::read(impl_->pipe(stream).parent.get(), data, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0) fail(std::string("ReadFile ") + name, errno);
    return static_cast<size_t>(n);
}

uint32_t Child::waitForExit() {
    int status = 0;
    while (waitpid(impl_->pid, &status, 0) < 0) {
        if (errno != EINTR) fail("WaitForSingleObject", errno);
    }
    if (WIFEXITED(status)) return static_cast<uint32_t>(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return 128u + static_cast<uint32_t>(WTERMSIG(status));
    return 1;
}

bool Child::hasExited() {
    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(impl_->pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        if (errno != EINTR) fail("WaitForSingleObject", errno);
    }
    return info.si_pid != 0;
}

void Child::askToEnd() {
    if (started_ && !closed_) impl_->signal(SIGTERM);
}

void Child::terminate() {
    // Once waited for, the number may belong to another process.
    if (started_ && !closed_) impl_->signal(SIGKILL);
}

void Child::Impl::signal(int signalNumber) {
    if (::kill(-pid, signalNumber) != 0) ::kill(pid, signalNumber);
}

}  // namespace process
