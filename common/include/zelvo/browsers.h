#pragma once
// Browsers: the ones the desktop lists beyond the registry's, and opening a page
// in one. The registry's list (SOFTWARE\Clients\StartMenuInternet) is read by
// the launcher itself on both systems.
#include <string>
#include <vector>

namespace zelvo {

struct BrowserEntry {
    std::string name;     // shown in the browser dialog
    std::string command;  // command line that opens a URL (see BrowserCommand)
};

// A browser's command line (a registry "shell\open\command" value or a desktop
// entry's Exec) turned into the argument vector that opens one URL. No shell
// reads it: the URL is always exactly one argument, whatever it holds.
namespace BrowserCommand {
// Splits `command` into words: blanks separate them, double quotes group them,
// and inside quotes a backslash takes the next of \ " ` $ literally. False (with
// no words) when a quote is left open.
bool split(const std::string& command, std::vector<std::string>& words);
// The program and its arguments for opening `url`: each %u, %U, %f or %F word
// becomes the URL, "%%" becomes "%", other field codes are dropped; without a
// URL field code the URL is appended. Empty when the command has no program.
std::vector<std::string> argumentsFor(const std::string& command, const std::string& url);
}  // namespace BrowserCommand

// Linux: the desktop entries (*.desktop) of the user ($XDG_DATA_HOME/applications)
// and of the system ($XDG_DATA_DIRS, each with applications/) whose categories
// name WebBrowser.
namespace DesktopEntries {
// One entry's text: its [Desktop Entry] group as a browser (Name, Exec), or
// false when it is no visible application of category WebBrowser.
bool parseBrowser(const std::string& text, BrowserEntry& entry);
// The folders searched, the user's first.
std::vector<std::string> applicationFolders();
// The browsers of those folders: in each folder its files in name order; a file
// name already seen in an earlier folder hides the later ones.
std::vector<BrowserEntry> browsers();
}  // namespace DesktopEntries

// The desktop's browsers beyond the registry's: the desktop entries on Linux,
// none on Windows (every browser registers itself in the registry there).
std::vector<BrowserEntry> desktopBrowsers();

// Opens `url` with `command` (BrowserCommand), or with an empty command with
// the desktop's default handler (xdg-open; the shell's "open" on Windows). The
// caller does not wait for the browser, which gets none of the caller's files.
// False with the system's reason when it could not be started.
bool openInBrowser(const std::string& command, const std::string& url, std::string& error);

}  // namespace zelvo
