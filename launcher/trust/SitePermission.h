#pragma once
// Which pages may reach the hosted application, judged by the Origin header:
// the launcher's own pages (http or https, localhost, 127.0.0.1 or [::1], the
// server's port), the sites the installer lists in "allowedorigins", and the
// sites the user allowed in the consent window. Anything else is asked about;
// "null" (local files, sandboxed frames) is admitted only when listed, never
// asked about and never remembered.
#include "trust/Origin.h"
#include "trust/RememberedSites.h"

#include <string>
#include <vector>

class SitePermission {
public:
    enum class Verdict { allow, refuse, ask };

    struct Settings {
        std::vector<std::string> allowedOrigins;  // "https://a.gob", "https://*.b.gob", "null"
        int serverPort = 0;
        std::string application;  // the application's name: remembered decisions are per name
        std::string description;  // what the consent window says the site wants to use
    };

    // Entries of the list that cannot be read are left out, with a warning record.
    SitePermission(Settings settings, RememberedSites remembered);

    Verdict check(const std::string& originValue) const;
    // The user's answer for a site that was asked about.
    void decided(const std::string& originValue, bool allowed, bool remember) const;
    const std::string& description() const { return settings_.description; }

private:
    bool isOwn(const Origin& origin) const;

    Settings settings_;
    RememberedSites remembered_;
    std::vector<Origin> listed_;
    bool nullListed_ = false;
};
