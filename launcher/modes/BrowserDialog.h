#pragma once
// The browser choice of the publish and test modes: the browsers registered on
// the machine (registry keys under SOFTWARE\Clients\StartMenuInternet, then the
// desktop entries of category WebBrowser), offered in the dialog program's
// browser dialog together with "Default browser".
#include "zelvo/browsers.h"

#include <functional>
#include <string>
#include <vector>

using zelvo::BrowserEntry;

class BrowserDialog {
public:
    // Browser command (empty: the default handler) and the secure box's state.
    using ExecuteCallback = std::function<void(const std::string& command, bool secure)>;
    using CloseCallback = std::function<void()>;

    // Shows the dialog and returns when it has ended. "Ejecutar" calls `execute`
    // and then `close`; any other way out calls only `close`. A dialog that
    // cannot be shown gives the warning box "No se puede iniciar la aplicación"
    // and calls neither.
    static void showBrowserDialog(const std::string& title, bool showSecure, const ExecuteCallback& execute,
                                  const CloseCallback& close);

    // The registered browsers: the registry's first, then the desktop's.
    static std::vector<BrowserEntry> getInstalledBrowsers();
    // Names of the direct sub-keys of HKEY_LOCAL_MACHINE\keyPath.
    static std::vector<std::string> listRegistrySubkeys(const std::string& keyPath);
    // The command of the first entry named `name`; empty when none is (as for
    // "Default browser").
    static std::string getSelectedBrowserCommand(const std::vector<BrowserEntry>& browsers, const std::string& name);

private:
    static void doEjecutarFunction(const std::vector<BrowserEntry>& browsers, const std::string& chosen, bool secure,
                                   const ExecuteCallback& execute);
};
