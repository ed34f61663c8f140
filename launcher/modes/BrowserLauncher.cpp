#include "modes/BrowserLauncher.h"

#include "zelvo/log.h"

#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace BrowserLauncher {

bool openInBrowser(const std::string& command, const std::string& url) {
    std::string program = command.empty() ? std::string("xdg-open") : command;
    std::vector<char*> argv = {const_cast<char*>(program.c_str()), const_cast<char*>(url.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The browser must not read the console build's closing prompt.
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = -1;
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
    return true;
}

}  // namespace BrowserLauncher
