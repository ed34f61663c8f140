#include "BrowserList.h"

#include "Utf8.h"

#include <algorithm>

namespace zelvo::ui {

namespace {
unsigned char folded(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}
}  // namespace

bool BrowserList::sortsBefore(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return folded(x) < folded(y); });
}

BrowserList::BrowserList(const std::vector<std::string>& names) {
    entries_.push_back({defaultBrowser, defaultBrowser});
    for (const auto& name : names) {
        if (name.find_first_of("\r\n") != std::string::npos) {
            refused_.push_back(name);
            continue;
        }
        entries_.push_back({validUtf8(name), name});
    }
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const Entry& a, const Entry& b) { return sortsBefore(a.display, b.display); });
}

std::string BrowserList::answer(const std::string& name, bool secure) {
    return name + "\n" + (secure ? "1" : "0") + "\n";
}

}  // namespace zelvo::ui
