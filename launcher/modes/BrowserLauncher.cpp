#include "modes/BrowserLauncher.h"

#include "modes/BrowserCommand.h"
#include "zelvo/dialog.h"
#include "zelvo/log.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
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

bool startsWithNoCase(const std::string& text, const char* prefix) {
    for (std::size_t i = 0; prefix[i]; ++i) {
        if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    return true;
}

// For the record: the URL with anything unprintable shown as \xNN, so that it
// cannot break or forge log lines.
std::string printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text.substr(0, 512)) {
        if (c >= 0x20 && c < 0x7f) {
            out.push_back(static_cast<char>(c));
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

}  // namespace

bool isAcceptableUrl(const std::string& url) {
    std::size_t rest;
    if (startsWithNoCase(url, "http://")) {
        rest = 7;
    } else if (startsWithNoCase(url, "https://")) {
        rest = 8;
    } else {
        return false;
    }
    for (unsigned char c : url) {
        if (c <= 0x20 || c >= 0x7f) return false;
    }
    // The authority ends at the path, query or fragment; its host (after any
    // user part, before any port) must not be empty.
    std::size_t end = url.find_first_of("/?#", rest);
    std::string authority = url.substr(rest, end == std::string::npos ? std::string::npos : end - rest);
    std::size_t at = authority.rfind('@');
    std::string host = at == std::string::npos ? authority : authority.substr(at + 1);
    return !host.empty() && host[0] != ':';
}

bool checkUrl(const std::string& url) {
    if (isAcceptableUrl(url)) return true;
    LOG_ERROR("BrowserLauncher::checkUrl") << "La dirección no es una URL http o https válida: " << printable(url);
    zelvo::showMessageBox("Error en aplicación", "La dirección web que se pidió abrir no es válida.",
                          zelvo::MessageIcon::error);
    return false;
}

bool openInBrowser(const std::string& command, const std::string& url) {
    if (!checkUrl(url)) return false;
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
