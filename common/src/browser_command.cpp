#include "zelvo/browsers.h"

namespace zelvo::BrowserCommand {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool isUrlCode(const std::string& word) { return word == "%u" || word == "%U" || word == "%f" || word == "%F"; }

// "%%" to "%", other field codes (%i, %c, %k, the deprecated ones) removed.
std::string withoutFieldCodes(const std::string& word) {
    std::string out;
    for (size_t i = 0; i < word.size(); ++i) {
        if (word[i] != '%' || i + 1 == word.size()) {
            out.push_back(word[i]);
            continue;
        }
        char code = word[++i];
        if (code == '%') out.push_back('%');
    }
    return out;
}

}  // namespace

bool split(const std::string& command, std::vector<std::string>& words) {
    words.clear();
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (size_t i = 0; i < command.size(); ++i) {
        char c = command[i];
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else if (c == '\\' && i + 1 < command.size() &&
                       (command[i + 1] == '\\' || command[i + 1] == '"' || command[i + 1] == '`' ||
                        command[i + 1] == '$')) {
                word.push_back(command[++i]);
            } else {
                word.push_back(c);
            }
        } else if (c == '"') {
            quoted = true;
            inWord = true;
        } else if (isBlank(c)) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word.push_back(c);
            inWord = true;
        }
    }
    if (quoted) {
        words.clear();
        return false;
    }
    if (inWord) words.push_back(word);
    return true;
}

std::vector<std::string> argumentsFor(const std::string& command, const std::string& url) {
    std::vector<std::string> words;
    if (!split(command, words) || words.empty()) return {};
    std::vector<std::string> args;
    bool urlPlaced = false;
    for (size_t i = 0; i < words.size(); ++i) {
        if (i > 0 && isUrlCode(words[i])) {
            // A desktop entry opens one URL: only the first code gets it.
            if (!urlPlaced) args.push_back(url);
            urlPlaced = true;
            continue;
        }
        // The program itself is taken as written.
        std::string word = i == 0 ? words[i] : withoutFieldCodes(words[i]);
        if (i > 0 && word.empty() && !words[i].empty()) continue;  // it was only a field code
        args.push_back(word);
    }
    if (!urlPlaced) args.push_back(url);
    return args;
}

}  // namespace zelvo::BrowserCommand
