#include "Origin.h"

#include "trust/Authority.h"

namespace {

constexpr std::size_t maxHostLength = 253;

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

int defaultPort(const std::string& scheme) {
    if (scheme == "http" || scheme == "ws") return 80;
    if (scheme == "https" || scheme == "wss") return 443;
    return 0;
}

bool validScheme(std::string_view s) {
    if (s.empty() || !isAlpha(s[0])) return false;
    for (char c : s)
        if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return false;
    return true;
}

// A DNS-like name: labels of letters, digits, '-' and '_', none empty.
bool validName(std::string_view s) {
    if (s.empty() || s.size() > maxHostLength || s.front() == '.' || s.back() == '.') return false;
    char previous = '.';
    for (char c : s) {
        if (c == '.' && previous == '.') return false;
        if (c != '.' && !isAlpha(c) && !isDigit(c) && c != '-' && c != '_') return false;
        previous = c;
    }
    return true;
}

bool validIpv6Literal(std::string_view s) {
    if (s.size() < 4 || s.front() != '[' || s.back() != ']') return false;
    for (char c : s.substr(1, s.size() - 2))
        if (!isDigit(c) && !(lower(c) >= 'a' && lower(c) <= 'f') && c != ':' && c != '.') return false;
    return true;
}

std::optional<int> parsePort(std::string_view s) {
    if (s.empty() || s.size() > 5) return std::nullopt;
    int value = 0;
    for (char c : s) {
        if (!isDigit(c)) return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) return std::nullopt;
    return value;
}

}  // namespace

std::optional<Origin> Origin::parse(std::string_view text, bool wildcard) {
    const std::size_t separator = text.find("://");
    if (separator == std::string_view::npos || !validScheme(text.substr(0, separator))) return std::nullopt;
    Origin origin;
    origin.scheme = asciiLower(text.substr(0, separator));
    const auto authority = Authority::split(text.substr(separator + 3));
    if (!authority) return std::nullopt;
    std::string_view host = authority->host;
    if (!host.empty() && host.front() == '[') {
        if (!validIpv6Literal(host)) return std::nullopt;
    } else {
        if (wildcard && host.size() > 2 && host.substr(0, 2) == "*.") {
            host.remove_prefix(2);
            // "*.gob" would admit a whole top-level domain.
            if (origin.scheme != "https" || host.find('.') == std::string_view::npos) return std::nullopt;
            origin.subdomains = true;
        }
        if (!validName(host)) return std::nullopt;
    }
    origin.host = asciiLower(host);
    if (authority->port) {
        auto value = parsePort(*authority->port);
        if (!value) return std::nullopt;
        origin.port = *value;
    } else {
        origin.port = defaultPort(origin.scheme);
    }
    return origin;
}

std::string Origin::text() const {
    std::string out = scheme + "://" + (subdomains ? "*." : "") + host;
    if (port != 0 && port != defaultPort(scheme)) out += ":" + std::to_string(port);
    return out;
}

bool Origin::admits(const Origin& other) const {
    if (other.subdomains || scheme != other.scheme || port != other.port) return false;
    if (!subdomains) return host == other.host;
    return other.host.size() > host.size() + 1 &&
           other.host.compare(other.host.size() - host.size(), host.size(), host) == 0 &&
           other.host[other.host.size() - host.size() - 1] == '.';
}
