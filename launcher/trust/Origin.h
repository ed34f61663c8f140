#pragma once
// A web origin as a browser sends it in the Origin header: a scheme, a host and
// a port ("https://tramites.example.gob", "http://localhost:8765"). A list entry
// may also name the subdomains of a host: "https://*.example.gob".
#include <optional>
#include <string>
#include <string_view>

struct Origin {
    std::string scheme;       // lower case
    std::string host;         // lower case; an IPv6 literal keeps its brackets
    int port = 0;             // as written, else the scheme's default (0: none)
    bool subdomains = false;  // "*.host": any name below host, never host itself

    // Strict syntax, ASCII only: scheme "://" host [":" port] and nothing else
    // (no path, no user, no blanks). `wildcard` lets a host start with "*."; such
    // an entry is https only and must keep at least two labels after the star.
    static std::optional<Origin> parse(std::string_view text, bool wildcard = false);
    // scheme://host[:port], the port left out when it is the scheme's default.
    std::string text() const;
    // True when `other` is this origin or, for a subdomain entry, lies below it.
    bool admits(const Origin& other) const;
};
