#include "zelvo/dialog.h"

#include "zelvo/paths.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zelvo {

std::string dialogProgram(const void* anchor) {
    if (const char* env = std::getenv("ZELVO_DIALOG"); env && *env) return env;
    std::string beside = (anchor ? moduleDir(anchor) : programDir()) + "zelvo-dialog";
    if (access(beside.c_str(), X_OK) == 0) return beside;
    // An installed plug-in lies in plugins/, one level below the dialog.
    if (anchor) {
        std::string up = moduleDir(anchor) + "../zelvo-dialog";
        if (access(up.c_str(), X_OK) == 0) return up;
    }
    return "zelvo-dialog";
}

DialogChild startDialog(const std::vector<std::string>& args, const void* anchor) {
    DialogChild child;
    std::string program = dialogProgram(anchor);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return child;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // Only the standard streams: a dialog left open must not hold the server's
    // port, the page's connection or a log file.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t pid = -1;
    int rc = program.find('/') == std::string::npos
                 ? posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ)
                 : posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        return child;
    }
    child.pid = pid;
    child.output = out[0];
    return child;
}

DialogResult runDialog(const std::vector<std::string>& args, const void* anchor) {
    DialogResult result;
    DialogChild child = startDialog(args, anchor);
    if (child.pid < 0) return result;
    const int output = child.output;
    const pid_t pid = child.pid;
    char buf[4096];
    // The answer may hold PINs: grow by hand so no copy is left behind in freed memory.
    result.output.reserve(sizeof buf);
    for (;;) {
        ssize_t n = read(output, buf, sizeof buf);
        if (n > 0) {
            size_t need = result.output.size() + static_cast<size_t>(n);
            if (need > result.output.capacity()) {
                std::string bigger;
                bigger.reserve(2 * need);
                bigger = result.output;
                wipe(result.output);
                result.output.swap(bigger);
            }
            result.output.append(buf, static_cast<size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    std::memset(buf, 0, sizeof buf);
    close(output);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    return result;
}

bool hasGraphicalSession() {
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

void wipe(std::string& secret) {
    volatile char* p = secret.empty() ? nullptr : &secret[0];
    for (size_t i = 0; i < secret.size(); ++i) p[i] = 0;
    secret.clear();
}

void showMessageBox(const std::string& caption, const std::string& text, MessageIcon icon) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    if (!hasGraphicalSession() && !std::getenv("ZELVO_DIALOG")) return;
    const char* iconName = icon == MessageIcon::error ? "error" : icon == MessageIcon::warning ? "warning" : "info";
    runDialog({"message", "--icon", iconName, "--title", caption, "--text", text});
}

}  // namespace zelvo
