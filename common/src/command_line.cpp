#include "zelvo/command_line.h"

namespace zelvo {

std::string quoteWindowsArgument(const std::string& argument, bool always) {
    if (!always && !argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) return argument;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count only before a quote: there each stands for half.
        out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        out.push_back(c);
    }
    // The closing quote follows: the backslashes before it are doubled too.
    out.append(2 * backslashes, '\\');
    out.push_back('"');
    return out;
}

std::string windowsCommandLine(const std::vector<std::string>& words) {
    std::string line;
    for (size_t i = 0; i < words.size(); ++i) {
        if (i > 0) {
            line += ' ' + quoteWindowsArgument(words[i]);
        } else if (words[0].find_first_of(" \t") != std::string::npos || words[0].empty()) {
            // The program's name follows simpler rules: quotes delimit, nothing escapes.
            line += '"' + words[0] + '"';
        } else {
            line += words[0];
        }
    }
    return line;
}

}  // namespace zelvo
