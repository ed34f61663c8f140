#pragma once
// The names a request may give the server in its Host header: localhost,
// 127.0.0.1, [::1] and the configured bind address, with or without a port, in
// any case. A page that reaches the loopback port under another name (a name of
// its own re-pointed at 127.0.0.1: DNS rebinding) is refused.
#include <string>
#include <string_view>
#include <vector>

class HostRule {
public:
    explicit HostRule(const std::string& bindaddress = "");
    bool admits(std::string_view host) const;

private:
    std::vector<std::string> names_;  // lower case; IPv6 literals in brackets
};
