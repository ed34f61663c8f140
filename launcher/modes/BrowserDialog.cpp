#include "modes/BrowserDialog.h"

#include "zelvo/dialog.h"
#include "zelvo/log.h"
#include "zelvo/registry.h"

namespace {

const char kBrowsersKey[] = "SOFTWARE\\Clients\\StartMenuInternet";

// The dialog's answer after "Ejecutar": the chosen name and 0 or 1, one a line.
bool parseAnswer(const std::string& output, std::string& name, bool& secure) {
    size_t first = output.find('\n');
    if (first == std::string::npos) return false;
    size_t second = output.find('\n', first + 1);
    if (second == std::string::npos || second + 1 != output.size()) return false;
    std::string flag = output.substr(first + 1, second - first - 1);
    if (flag != "0" && flag != "1") return false;
    name = output.substr(0, first);
    secure = flag == "1";
    return true;
}

}  // namespace

std::vector<std::string> BrowserDialog::listRegistrySubkeys(const std::string& keyPath) {
    return zelvo::listRegistrySubkeys(keyPath);
}

std::vector<BrowserEntry> BrowserDialog::getInstalledBrowsers() {
    std::vector<BrowserEntry> browsers;
    for (const std::string& sub : listRegistrySubkeys(kBrowsersKey)) {
        const std::string key = std::string(kBrowsersKey) + "\\" + sub;
        BrowserEntry entry;
        if (zelvo::readRegistryString(key, "", entry.name) &&
            zelvo::readRegistryString(key + "\\shell\\open\\command", "", entry.command)) {
            browsers.push_back(entry);
        }
    }
    for (BrowserEntry& entry : zelvo::desktopBrowsers()) browsers.push_back(std::move(entry));
    return browsers;
}

std::string BrowserDialog::getSelectedBrowserCommand(const std::vector<BrowserEntry>& browsers,
                                                     const std::string& name) {
    for (const BrowserEntry& entry : browsers) {
        if (entry.name == name) return entry.command;
    }
    return "";
}

void BrowserDialog::doEjecutarFunction(const std::vector<BrowserEntry>& browsers, const std::string& chosen,
                                       bool secure, const ExecuteCallback& execute) {
    std::string command = getSelectedBrowserCommand(browsers, chosen);
    LOG_VERBOSE("BrowserDialog::doEjecutarFunction") << "La opcion use_ssl es " << (secure ? 1 : 0);
    execute(command, secure);
}

void BrowserDialog::showBrowserDialog(const std::string& title, bool showSecure, const ExecuteCallback& execute,
                                      const CloseCallback& close) {
    std::vector<BrowserEntry> browsers = getInstalledBrowsers();
    std::vector<std::string> args = {"browser", "--title", title};
    if (!showSecure) args.push_back("--hide-secure");
    // Names are never taken for options, whatever they begin with.
    args.push_back("--");
    for (const BrowserEntry& entry : browsers) args.push_back(entry.name);

    zelvo::DialogResult result = zelvo::runDialog(args);
    if (result.exitCode == 0) {
        std::string chosen;
        bool secure = false;
        if (parseAnswer(result.output, chosen, secure)) {
            doEjecutarFunction(browsers, chosen, showSecure && secure, execute);
        } else {
            LOG_ERROR("BrowserDialog::showBrowserDialog") << "Respuesta no válida del diálogo de navegadores";
        }
        close();
        return;
    }
    if (result.exitCode == 1) {
        close();
        return;
    }
    LOG_ERROR("BrowserDialog::showBrowserDialog")
        << "No se pudo mostrar el diálogo de navegadores, código " << result.exitCode;
    zelvo::showMessageBox("Error", "No se puede iniciar la aplicación", zelvo::MessageIcon::warning);
}
