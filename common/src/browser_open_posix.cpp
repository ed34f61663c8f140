#include "zelvo/browsers.h"

#include "zelvo/child_process.h"

namespace zelvo {

bool openInBrowser(const std::string& command, const std::string& url, std::string& error) {
    std::vector<std::string> words =
        command.empty() ? std::vector<std::string>{"xdg-open", url} : BrowserCommand::argumentsFor(command, url);
    if (words.empty()) {
        error = "la orden del navegador no es válida";
        return false;
    }
    ChildProcess::Options options;
    options.captureOutput = false;
    options.quietErrors = true;
    // Not waited for: the child is collected in the background when it ends.
    return ChildProcess::start(words, options, error) != nullptr;
}

}  // namespace zelvo
