#include "modes/BrowserLauncher.h"

#include "modes/BrowserCommand.h"
#include "zelvo/log.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace BrowserLauncher {

namespace {

// Collects the browser's exit whenever it comes, so it leaves no zombie behind.
void reapLater(pid_t pid) {
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

}  // namespace

bool openInBrowser(const std::string& command, const std::string& url) {
    std::vector<std::string> words =
        command.empty() ? std::vector<std::string>{"xdg-open", url} : BrowserCommand::argumentsFor(command, url);
    if (words.empty()) {
        LOG_ERROR("BrowserLauncher::openInBrowser") << "La orden del navegador no es válida: " << command;
        return false;
    }
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd <= 2; ++fd) {
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    }
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t pid = -1;
    const std::string& program = words.front();
    int rc = program.find('/') == std::string::npos
                 ? posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ)
                 : posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        LOG_ERROR("BrowserLauncher::openInBrowser") << "No se pudo abrir el navegador " << program << ": "
                                                    << std::strerror(rc);
        return false;
    }
    LOG_VERBOSE("BrowserLauncher::openInBrowser") << "Abriendo " << url << " con " << program;
    reapLater(pid);
    return true;
}

}  // namespace BrowserLauncher
