#include "Profile.h"

#include "log/AsyncLog.h"

#include "zelvo/paths.h"

namespace quillet {
namespace {

std::string trimmed(const std::string& s, size_t begin, size_t end) {
    while (begin < end && (s[begin] == ' ' || s[begin] == '\t')) ++begin;
    while (end > begin && (s[end - 1] == ' ' || s[end - 1] == '\t' || s[end - 1] == '\r')) --end;
    return s.substr(begin, end - begin);
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string slot(const std::string& section, const std::string& key) { return lower(section) + "\n" + lower(key); }

}  // namespace

Profile::Profile(const std::string& text) {
    size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    std::string section;
    bool inSection = false;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = trimmed(text, start, end);
        start = end + 1;
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            section = trimmed(line, 1, close == std::string::npos ? line.size() : close);
            inSection = true;
            continue;
        }
        size_t equals = line.find('=');
        if (!inSection || equals == std::string::npos) continue;
        std::string key = trimmed(line, 0, equals);
        if (key.empty()) continue;
        std::string value = trimmed(line, equals + 1, line.size());
        if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
            value = value.substr(1, value.size() - 2);
        values_.emplace(slot(section, key), std::move(value));  // an earlier key stays
    }
}

Profile Profile::fromFile(const std::string& path) {
    std::string text;
    if (zelvo::readRegularFile(path, kLargestFile, text)) return Profile(text);
    if (zelvo::fileExists(path))
        QLOG_WARN << path << " no se puede leer (no es un archivo o pasa de " << kLargestFile
                  << " bytes); se usan los valores por omisión";
    return Profile();
}

std::string Profile::text(const std::string& section, const std::string& key, const std::string& fallback) const {
    auto it = values_.find(slot(section, key));
    return it == values_.end() ? fallback : it->second;
}

int Profile::number(const std::string& section, const std::string& key, int fallback) const {
    auto it = values_.find(slot(section, key));
    return it == values_.end() ? fallback : profileInt(it->second);
}

int profileInt(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    long long v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        if (v <= 2147483648LL) v = v * 10 + (text[i] - '0');
    if (negative) v = -v;
    if (v > 2147483647LL) v = 2147483647LL;
    if (v < -2147483648LL) v = -2147483648LL;
    return static_cast<int>(v);
}

}  // namespace quillet
