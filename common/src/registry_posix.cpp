#include "zelvo/registry.h"
#include "zelvo/registry_files.h"

#include "zelvo/paths.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <sstream>
#include <sys/stat.h>

namespace zelvo {
namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// Key paths are compared without the hive prefix and without trailing separators.
std::string normaliseKey(std::string key) {
    std::string k = key;
    for (const char* hive : {"HKEY_LOCAL_MACHINE\\", "HKLM\\"}) {
        size_t n = std::char_traits<char>::length(hive);
        if (lower(k.substr(0, n)) == lower(hive)) {
            k = k.substr(n);
            break;
        }
    }
    while (!k.empty() && k.back() == '\\') k.pop_back();
    while (!k.empty() && k.front() == '\\') k.erase(k.begin());
    return k;
}

// Reads a quoted .reg string starting at s[pos] == '"'; returns false when unterminated.
bool readQuoted(const std::string& s, size_t& pos, std::string& out) {
    if (pos >= s.size() || s[pos] != '"') return false;
    out.clear();
    for (++pos; pos < s.size(); ++pos) {
        char c = s[pos];
        if (c == '\\' && pos + 1 < s.size()) {
            out.push_back(s[++pos]);
        } else if (c == '"') {
            ++pos;
            return true;
        } else {
            out.push_back(c);
        }
    }
    return false;
}

// A registry file is a small text: a folder, FIFO or device in its place, or a
// file over this size, is passed over.
constexpr size_t kLargestFile = 1 << 20;

}  // namespace

Registry Registry::fromEnvironment() {
    const char* env = std::getenv("ZELVO_REGISTRY");
    std::vector<std::string> paths;
    if (env && *env) {
        std::string list(env);
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(':', start);
            if (end == std::string::npos) end = list.size();
            if (end > start) paths.push_back(list.substr(start, end - start));
            start = end + 1;
        }
    } else {
        paths.push_back("/etc/zelvo/registry.d");
    }
    return fromPaths(paths);
}

Registry Registry::fromPaths(const std::vector<std::string>& paths) {
    Registry reg;
    for (const auto& path : paths) {
        struct stat st {};
        if (stat(path.c_str(), &st) != 0) continue;
        std::vector<std::string> files;
        if (S_ISDIR(st.st_mode)) {
            if (DIR* dir = opendir(path.c_str())) {
                while (dirent* e = readdir(dir)) {
                    std::string name = e->d_name;
                    if (name.size() > 4 && lower(name.substr(name.size() - 4)) == ".reg") files.push_back(path + "/" + name);
                }
                closedir(dir);
            }
            std::sort(files.begin(), files.end());
        } else {
            files.push_back(path);
        }
        for (const auto& f : files) {
            std::string text;
            if (readRegularFile(f, kLargestFile, text)) reg.parse(text);
        }
    }
    return reg;
}

void Registry::parse(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    Key* current = nullptr;
    bool first = true;
    while (std::getline(in, line)) {
        if (first) {
            first = false;
            if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        }
        std::string t = trim(line);
        if (t.empty() || t[0] == ';') continue;
        if (t[0] == '[') {
            size_t close = t.rfind(']');
            if (close == std::string::npos) {
                current = nullptr;
                continue;
            }
            std::string name = normaliseKey(t.substr(1, close - 1));
            if (name.empty() || name[0] == '-') {  // "[-KEY]" deletes; we only read
                current = nullptr;
                continue;
            }
            Key& key = keys_[lower(name)];
            if (key.name.empty()) key.name = name;
            current = &key;
            continue;
        }
        if (!current) continue;
        std::string valueName;
        size_t pos = 0;
        if (t[0] == '@') {
            pos = 1;
        } else if (!readQuoted(t, pos, valueName)) {
            continue;
        }
        while (pos < t.size() && (t[pos] == ' ' || t[pos] == '\t')) ++pos;
        if (pos >= t.size() || t[pos] != '=') continue;
        ++pos;
        while (pos < t.size() && (t[pos] == ' ' || t[pos] == '\t')) ++pos;
        std::string data;
        if (!readQuoted(t, pos, data)) continue;  // only string values count
        current->values[lower(valueName)] = data;
    }
}

bool Registry::get(const std::string& keyPath, const std::string& valueName, std::string& out) const {
    auto it = keys_.find(lower(normaliseKey(keyPath)));
    if (it == keys_.end()) return false;
    std::string v = valueName == "@" ? "" : lower(valueName);
    auto vit = it->second.values.find(v);
    if (vit == it->second.values.end()) return false;
    out = vit->second;
    return true;
}

std::optional<std::string> Registry::keyName(const std::string& keyPath) const {
    const std::string wanted = lower(normaliseKey(keyPath));
    if (wanted.empty()) return std::nullopt;
    // The key itself, else the first key below it (a parent exists with its
    // children). Every path that starts with `wanted` sorts right after it.
    for (auto it = keys_.lower_bound(wanted); it != keys_.end(); ++it) {
        const std::string& path = it->first;
        if (path.compare(0, wanted.size(), wanted) != 0) break;
        if (path.size() != wanted.size() && path[wanted.size()] != '\\') continue;
        const std::string spelled = it->second.name.substr(0, wanted.size());
        const size_t separator = spelled.rfind('\\');
        return separator == std::string::npos ? spelled : spelled.substr(separator + 1);
    }
    return std::nullopt;
}

std::vector<std::string> Registry::subKeys(const std::string& keyPath) const {
    std::string prefix = lower(normaliseKey(keyPath)) + "\\";
    std::vector<std::string> result;
    for (const auto& [k, key] : keys_) {
        if (k.compare(0, prefix.size(), prefix) != 0) continue;
        std::string rest = key.name.substr(prefix.size());
        size_t sep = rest.find('\\');
        std::string child = rest.substr(0, sep);
        if (!child.empty() && std::find_if(result.begin(), result.end(), [&](const std::string& r) {
                                  return lower(r) == lower(child);
                              }) == result.end())
            result.push_back(child);
    }
    return result;
}

std::optional<std::string> registryKeyName(const std::string& keyPath) {
    return Registry::fromEnvironment().keyName(keyPath);
}

bool readRegistryString(const std::string& keyPath, const std::string& valueName, std::string& value,
                        RegistryView view, size_t maxBytes) {
    // The registry files are one view: there is no other.
    if (view != RegistryView::own) return false;
    std::string data;
    if (!Registry::fromEnvironment().get(keyPath, valueName, data)) return false;
    // The value buffer holds maxBytes, terminator included.
    if (data.size() >= maxBytes) return false;
    value = data.substr(0, data.find('\0'));
    return true;
}

std::vector<std::string> listRegistrySubkeys(const std::string& keyPath) {
    return Registry::fromEnvironment().subKeys(keyPath);
}

}  // namespace zelvo
