#pragma once
// The "host[:port]" part of a Host header or an origin, split once for both.
#include <optional>
#include <string>
#include <string_view>

struct Authority {
    std::string_view host;                 // an IPv6 literal keeps its brackets
    std::optional<std::string_view> port;  // the text after the host's ':', when there is one

    // Null when a '[' is not closed or anything but ":port" follows the ']'.
    static std::optional<Authority> split(std::string_view text);
};

// ASCII lower case: schemes and host names compare case-insensitively.
std::string asciiLower(std::string_view s);
