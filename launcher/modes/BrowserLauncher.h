#pragma once
#include <string>

namespace BrowserLauncher {

// Opens `url` with the browser command line `command` (see BrowserCommand), or,
// with an empty command, with the desktop's default handler (xdg-open). No shell
// is involved and the launcher does not wait for the browser, which gets none of
// the launcher's files (not its console, not its listening socket). False when
// it could not be started.
bool openInBrowser(const std::string& command, const std::string& url);

}  // namespace BrowserLauncher
