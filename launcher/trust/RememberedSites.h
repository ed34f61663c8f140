#pragma once
// What the user answered in the consent window with "Recordar mi decisión para
// este sitio" ticked, per site (origin) and application, in a file of their own:
//   $XDG_CONFIG_HOME/zelvo/permisos.json   (default ~/.config/zelvo/permisos.json)
//   {"sites": [{"origin": "https://tramites.example.gob", "application": "vexa",
//               "decision": "allow"}]}
// "decision" is "allow" or "refuse"; deleting an entry (or the file) forgets it.
// The file is written whole into a temporary file of mode 0600 that then
// replaces it, so that no crash leaves half a file. A file that cannot be read
// or parsed, or that other users may change, counts as nothing remembered and
// is kept aside (renamed) before a new one is written; so is anything but a
// regular file in its place (a link, a FIFO, a device: never followed nor
// waited on). Applications compare in any case, as the registry names them.
#include <map>
#include <string>
#include <utility>

class RememberedSites {
public:
    enum class Decision { none, allow, refuse };

    explicit RememberedSites(std::string path);
    // $XDG_CONFIG_HOME/zelvo/permisos.json, with ~/.config for a missing or
    // relative XDG_CONFIG_HOME.
    static std::string defaultPath();

    // Read afresh on every call: the user may have edited the file meanwhile.
    Decision find(const std::string& origin, const std::string& application) const;
    // False (with an error record) when the decision could not be stored.
    bool remember(const std::string& origin, const std::string& application, bool allowed) const;
    const std::string& path() const { return path_; }

private:
    using Key = std::pair<std::string, std::string>;  // origin, application
    struct Contents {
        bool exists = false;
        bool usable = true;
        std::map<Key, bool> decisions;  // true: allowed
    };

    Contents load() const;
    static std::map<Key, bool>::iterator sameEntry(Contents& contents, const std::string& origin,
                                                   const std::string& application);
    bool keepAside() const;
    bool write(const Contents& contents) const;

    std::string path_;
};
