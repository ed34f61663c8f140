#pragma once
#include <string>

namespace BrowserLauncher {

// Starts `command` (a program file) with `url` as its one argument, or, with an
// empty command, the desktop's default handler (xdg-open). No shell is involved
// and the launcher does not wait for it. False when it could not be started.
bool openInBrowser(const std::string& command, const std::string& url);

}  // namespace BrowserLauncher
