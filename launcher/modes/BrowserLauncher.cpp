#include "modes/BrowserLauncher.h"

#include "zelvo/browsers.h"
#include "zelvo/dialog.h"
#include "zelvo/log.h"

#include <cctype>
#include <cstdio>

namespace BrowserLauncher {

namespace {

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
    std::string error;
    if (!zelvo::openInBrowser(command, url, error)) {
        LOG_ERROR("BrowserLauncher::openInBrowser") << "No se pudo abrir el navegador " << command << ": " << error;
        return false;
    }
    LOG_VERBOSE("BrowserLauncher::openInBrowser") << "Abriendo " << url << (command.empty() ? "" : " con " + command);
    return true;
}

}  // namespace BrowserLauncher
