#include "HostRule.h"

namespace {

std::string lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool isPort(std::string_view s) {
    if (s.empty() || s.size() > 5) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

HostRule::HostRule(const std::string& bindaddress) : names_{"localhost", "127.0.0.1", "[::1]"} {
    if (bindaddress.empty()) return;
    std::string name = lowered(bindaddress);
    if (name.find(':') != std::string::npos && name.front() != '[') name = "[" + name + "]";
    names_.push_back(name);
}

bool HostRule::admits(std::string_view host) const {
    std::string_view name = host;
    std::size_t colon = std::string_view::npos;
    if (!host.empty() && host.front() == '[') {
        const std::size_t close = host.find(']');
        if (close == std::string_view::npos) return false;
        name = host.substr(0, close + 1);
        if (close + 1 < host.size()) {
            if (host[close + 1] != ':') return false;
            colon = close + 1;
        }
    } else {
        colon = host.find(':');
        if (colon != std::string_view::npos) name = host.substr(0, colon);
    }
    if (colon != std::string_view::npos && !isPort(host.substr(colon + 1))) return false;
    const std::string wanted = lowered(name);
    for (const std::string& known : names_)
        if (known == wanted) return true;
    return false;
}
