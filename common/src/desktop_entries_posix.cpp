#include "zelvo/browsers.h"

#include "zelvo/log.h"
#include "zelvo/paths.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace zelvo {
namespace DesktopEntries {

namespace {

// Desktop entries are small; anything larger is no desktop entry.
constexpr std::uintmax_t kMaxEntrySize = 1 << 20;

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

// The string escapes of the format: \s \n \t \r \\ (others are kept as written).
std::string unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out.push_back(s[i]);
            continue;
        }
        char c = s[++i];
        switch (c) {
            case 's': out.push_back(' '); break;
            case 'n': out.push_back('\n'); break;
            case 't': out.push_back('\t'); break;
            case 'r': out.push_back('\r'); break;
            case '\\': out.push_back('\\'); break;
            default:
                out.push_back('\\');
                out.push_back(c);
                break;
        }
    }
    return out;
}

bool hasCategory(const std::string& list, const std::string& wanted) {
    std::stringstream ss(list);
    std::string item;
    while (std::getline(ss, item, ';')) {
        if (trim(item) == wanted) return true;
    }
    return false;
}

bool readSmallFile(const fs::path& path, std::string& text) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec) || fs::file_size(path, ec) > kMaxEntrySize || ec) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    text = ss.str();
    return !in.bad();
}

}  // namespace

bool parseBrowser(const std::string& text, BrowserEntry& entry) {
    std::string name, exec, type, categories, hidden, noDisplay;
    bool inMain = false;
    std::stringstream ss(text);
    std::string line;
    while (std::getline(ss, line)) {
        std::string t = trim(line);
        if (t.empty() || t[0] == '#') continue;
        if (t[0] == '[') {
            inMain = t == "[Desktop Entry]";
            continue;
        }
        if (!inMain) continue;
        size_t eq = t.find('=');
        if (eq == std::string::npos) continue;
        std::string key = trim(t.substr(0, eq));
        std::string value = trim(t.substr(eq + 1));
        // The first occurrence of a key counts; localised keys (Name[es]) are other keys.
        if (key == "Name" && name.empty()) name = unescape(value);
        else if (key == "Exec" && exec.empty()) exec = unescape(value);
        else if (key == "Type" && type.empty()) type = value;
        else if (key == "Categories" && categories.empty()) categories = value;
        else if (key == "Hidden") hidden = value;
        else if (key == "NoDisplay") noDisplay = value;
    }
    if (type != "Application" || name.empty() || exec.empty()) return false;
    if (hidden == "true" || noDisplay == "true") return false;
    if (!hasCategory(categories, "WebBrowser")) return false;
    entry.name = name;
    entry.command = exec;
    return true;
}

std::vector<std::string> applicationFolders() {
    std::vector<std::string> folders;
    const char* home = std::getenv("XDG_DATA_HOME");
    folders.push_back((home && *home ? std::string(home) : zelvo::homeDir() + "/.local/share") + "/applications");
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    std::string list = dirs && *dirs ? dirs : "/usr/local/share:/usr/share";
    std::stringstream ss(list);
    std::string dir;
    while (std::getline(ss, dir, ':')) {
        if (dir.empty()) continue;
        while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
        folders.push_back(dir + "/applications");
    }
    return folders;
}

std::vector<BrowserEntry> browsers() {
    std::vector<BrowserEntry> result;
    std::set<std::string> seen;
    for (const std::string& folder : applicationFolders()) {
        std::error_code ec;
        std::vector<fs::path> files;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            if (it->path().extension() == ".desktop") files.push_back(it->path());
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            if (!seen.insert(file.filename().string()).second) continue;
            std::string text;
            BrowserEntry entry;
            if (readSmallFile(file, text) && parseBrowser(text, entry)) {
                LOG_VERBOSE("DesktopEntries::browsers") << "Navegador " << entry.name << " en " << file.string();
                result.push_back(entry);
            }
        }
    }
    return result;
}

}  // namespace DesktopEntries

std::vector<BrowserEntry> desktopBrowsers() { return DesktopEntries::browsers(); }

}  // namespace zelvo
