#pragma once
#include <string>

namespace BrowserLauncher {

// Opens `url` with the browser command line `command` (see BrowserCommand), or,
// with an empty command, with the desktop's default handler (xdg-open). No shell
// is involved and the launcher does not wait for the browser, which gets none of
// the launcher's files (not its console, not its listening socket). False when
// it could not be started, or when the URL is not acceptable (checkUrl).
bool openInBrowser(const std::string& command, const std::string& url);

// A browser gets only an absolute http or https URL with a host, of printable
// ASCII without blanks: nothing a browser could take for an option or for a
// second argument. True when `url` is one; otherwise false after an error record
// and a message box saying the address is not valid.
bool checkUrl(const std::string& url);
// The test behind checkUrl, without record or box.
bool isAcceptableUrl(const std::string& url);

}  // namespace BrowserLauncher
