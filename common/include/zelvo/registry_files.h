#pragma once
// Linux: the registry as text files in the .reg format:
//   Windows Registry Editor Version 5.00      (or REGEDIT4)
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Zelvo\card]
//   "RuntimeLib"="/opt/zelvo/plugins/vexa-tools.so"
//   @="default value"
// The files are the ':'-separated files or folders in ZELVO_REGISTRY, else the
// folder /etc/zelvo/registry.d; a folder's *.reg files are read in name order and
// a later value wins. Key and value names compare case-insensitively.
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zelvo {

class Registry {
public:
    // Loads the files named by the environment (see above).
    static Registry fromEnvironment();
    // Loads the given files or folders in order.
    static Registry fromPaths(const std::vector<std::string>& paths);
    // Parses one file's text; malformed lines are skipped.
    void parse(const std::string& text);

    // Value of `valueName` ("" or "@" for the default value) under the key
    // HKEY_LOCAL_MACHINE\keyPath. False when the key or value is missing.
    bool get(const std::string& keyPath, const std::string& valueName, std::string& out) const;
    // The last component of HKEY_LOCAL_MACHINE\keyPath as the files spell it
    // (matched in any case, trailing backslashes ignored); none when no such key
    // exists, not even as the parent of another.
    std::optional<std::string> keyName(const std::string& keyPath) const;
    // Names of the sub-keys directly below HKEY_LOCAL_MACHINE\keyPath, as written.
    std::vector<std::string> subKeys(const std::string& keyPath) const;

private:
    struct Key {
        std::string name;  // as written, without the hive
        std::map<std::string, std::string> values;  // lower-case name -> data
    };
    std::map<std::string, Key> keys_;  // lower-case key path -> key
};

}  // namespace zelvo
