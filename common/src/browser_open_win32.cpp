#include "zelvo/browsers.h"

#include "zelvo/command_line.h"
#include "zelvo/system_error.h"
#include "zelvo/utf16.h"

#include <windows.h>
#include <shellapi.h>

namespace zelvo {

std::vector<BrowserEntry> desktopBrowsers() { return {}; }

bool openInBrowser(const std::string& command, const std::string& url, std::string& error) {
    std::string file = url;
    std::string parameters;
    if (!command.empty()) {
        // A registered command is a whole command line, usually a quoted path and
        // perhaps options: the shell is given the program as the file and the
        // rest, the URL as one more argument, as the parameters.
        std::vector<std::string> words = BrowserCommand::argumentsFor(command, url);
        if (words.empty()) {
            error = "la orden del navegador no es válida";
            return false;
        }
        file = words.front();
        words.erase(words.begin());
        for (const std::string& word : words) parameters += (parameters.empty() ? "" : " ") + quoteWindowsArgument(word);
    }
    std::optional<std::wstring> wideFile = toUtf16(file), wideParameters = toUtf16(parameters);
    if (!wideFile || !wideParameters) {
        error = "texto no válido en la dirección";
        return false;
    }
    HINSTANCE result = ShellExecuteW(nullptr, L"open", wideFile->c_str(),
                                     wideParameters->empty() ? nullptr : wideParameters->c_str(), nullptr,
                                     SW_SHOWDEFAULT);
    // Above 32 is success; below, one of the shell's own codes.
    if (reinterpret_cast<INT_PTR>(result) > 32) return true;
    error = systemErrorText(GetLastError());
    return false;
}

}  // namespace zelvo
