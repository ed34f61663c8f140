#include "zelvo/child_process.h"

#include "child_output.h"
#include "zelvo/dialog.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace zelvo {

void keepStandardStreamsFromChildren() {}

struct ChildProcess::Impl {
    pid_t pid = -1;
    int output = -1;  // read end of its standard output, close-on-exec
    std::atomic<bool> collected{false};
    int status = 0;
};

ChildProcess::ChildProcess(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::unique_ptr<ChildProcess> ChildProcess::start(const std::vector<std::string>& words, const Options& options,
                                                  std::string& error) {
    if (words.empty()) {
        error = "no program";
        return nullptr;
    }
    std::vector<char*> argv;
    for (const auto& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);

    int out[2] = {-1, -1};
    if (options.captureOutput && pipe2(out, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (options.captureOutput) posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    else posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (options.quietErrors) posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t pid = -1;
    const std::string& program = words.front();
    int rc = program.find('/') == std::string::npos
                 ? posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ)
                 : posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (out[1] >= 0) close(out[1]);
    if (rc != 0) {
        if (out[0] >= 0) close(out[0]);
        error = std::strerror(rc);
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->pid = pid;
    impl->output = out[0];
    return std::unique_ptr<ChildProcess>(new ChildProcess(std::move(impl)));
}

ChildProcess::~ChildProcess() {
    if (impl_->output >= 0) close(impl_->output);
    if (!impl_->collected) {
        // Collects its end whenever it comes, so that it leaves no zombie behind.
        std::thread([pid = impl_->pid] {
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    }
}

bool ChildProcess::readOutput(std::string& out, std::size_t maxBytes) {
    if (impl_->output < 0) return false;
    char buf[4096];
    bool fits = true;
    out.reserve(std::min(maxBytes, sizeof buf));
    for (;;) {
        ssize_t n = read(impl_->output, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        fits = detail::appendOutput(out, buf, static_cast<size_t>(n), maxBytes) && fits;
    }
    std::memset(buf, 0, sizeof buf);
    close(impl_->output);
    impl_->output = -1;
    return fits;
}

std::optional<int> ChildProcess::waitFor(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!impl_->collected) {
        pid_t done = waitpid(impl_->pid, &impl_->status, WNOHANG);
        if (done == impl_->pid) {
            impl_->collected = true;
            break;
        }
        if (done < 0 && errno == ECHILD) {  // collected by someone else: no code to give
            impl_->collected = true;
            impl_->status = -1;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(impl_->status) ? WEXITSTATUS(impl_->status) : -1;
}

int ChildProcess::wait() {
    while (!impl_->collected) {
        pid_t done = waitpid(impl_->pid, &impl_->status, 0);
        if (done < 0 && errno == EINTR) continue;
        if (done < 0) impl_->status = -1;
        impl_->collected = true;
    }
    return WIFEXITED(impl_->status) ? WEXITSTATUS(impl_->status) : -1;
}

void ChildProcess::kill() {
    if (!impl_->collected) ::kill(impl_->pid, SIGKILL);
}

long ChildProcess::id() const { return impl_->pid; }

}  // namespace zelvo
