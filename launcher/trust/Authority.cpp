#include "Authority.h"

std::optional<Authority> Authority::split(std::string_view text) {
    Authority authority{text, std::nullopt};
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        authority.host = text.substr(0, close + 1);
        const std::string_view after = text.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return std::nullopt;
            authority.port = after.substr(1);
        }
    } else if (const std::size_t colon = text.find(':'); colon != std::string_view::npos) {
        authority.host = text.substr(0, colon);
        authority.port = text.substr(colon + 1);
    }
    return authority;
}

std::string asciiLower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}
