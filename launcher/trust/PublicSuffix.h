#pragma once
// Public suffixes ("co.uk", "gob.pe", "github.io"): names below which anyone may
// register a site of their own, so that a wildcard over one admits strangers.
// The list is the system's (libpsl with the public suffix list it was given).
#include <string>

class PublicSuffix {
public:
    // True when `host` (lower case, ASCII) is a public suffix.
    static bool covers(const std::string& host);
};
