#include "HostRule.h"

#include "trust/Authority.h"

namespace {

bool isPort(std::string_view s) {
    if (s.empty() || s.size() > 5) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

HostRule::HostRule(const std::string& bindaddress) : names_{"localhost", "127.0.0.1", "[::1]"} {
    if (bindaddress.empty()) return;
    std::string name = asciiLower(bindaddress);
    if (name.find(':') != std::string::npos && name.front() != '[') name = "[" + name + "]";
    names_.push_back(name);
}

bool HostRule::admits(std::string_view host) const {
    const auto authority = Authority::split(host);
    if (!authority || (authority->port && !isPort(*authority->port))) return false;
    const std::string wanted = asciiLower(authority->host);
    for (const std::string& known : names_)
        if (known == wanted) return true;
    return false;
}
