#pragma once
#include <string>
#include <vector>

namespace zelvo::ui {

// The entries of the browser drop-down. "Default browser" and the caller's
// names, given in registry order, are sorted together the way a sorted list box
// sorts (letters compared without regard to case, equal texts in arrival order),
// so "Default browser" comes first only when no name sorts before it.
class BrowserList {
public:
    static constexpr const char* defaultBrowser = "Default browser";

    struct Entry {
        std::string display;  // what the drop-down shows (valid UTF-8)
        std::string name;     // what the answer carries: the caller's own bytes
    };

    explicit BrowserList(const std::vector<std::string>& names);

    const std::vector<Entry>& entries() const { return entries_; }
    // Names that cannot travel back on one line and are therefore not offered.
    const std::vector<std::string>& refused() const { return refused_; }

    // The answer to "Ejecutar": the chosen name, then 1 or 0 for a secure connection.
    static std::string answer(const std::string& name, bool secure);
    // Whether `a` sorts before `b` in the drop-down.
    static bool sortsBefore(const std::string& a, const std::string& b);

private:
    std::vector<Entry> entries_;
    std::vector<std::string> refused_;
};

}  // namespace zelvo::ui
