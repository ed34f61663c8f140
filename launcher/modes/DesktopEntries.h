#pragma once
// The desktop's own list of browsers: the desktop entries (*.desktop) of the
// user ($XDG_DATA_HOME/applications) and of the system ($XDG_DATA_DIRS, each
// with applications/) whose categories name WebBrowser.
#include <string>
#include <vector>

struct BrowserEntry {
    std::string name;     // shown in the browser dialog
    std::string command;  // command line that opens a URL (see BrowserCommand)
};

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
