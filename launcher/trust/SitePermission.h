#pragma once
// Which pages may reach the hosted application, judged by the Origin header:
// the launcher's own pages (http or https, localhost, 127.0.0.1 or [::1], the
// server's port), the sites the installer lists in "allowedorigins", and the
// sites the user allowed in the consent window, remembered or for this run.
// Anything else is asked about, once a run: after the user's answer another
// unlisted site is refused without a question. "null" (local files, sandboxed
// frames) is admitted only when listed, never asked about and never remembered.
#include "trust/Origin.h"
#include "trust/RememberedSites.h"

#include <string>
#include <vector>

class SitePermission {
public:
    // refusedBefore: the user's remembered refusal, which ends the run.
    enum class Verdict { allow, refuse, refusedBefore, ask };

    struct Settings {
        std::vector<std::string> allowedOrigins;  // "https://a.gob", "https://*.b.gob", "null"
        int serverPort = 0;
        std::string application;  // as the registry names it: remembered decisions are per application
        std::string description;  // what the consent window says the site wants to use
    };

    // Entries of the list that cannot be read, and wildcards over a public
    // suffix ("https://*.co.uk"), are left out with a warning record.
    SitePermission(Settings settings, RememberedSites remembered);

    Verdict check(const std::string& originValue) const;
    // The user's answer for a site that was asked about: it holds for the rest
    // of the run, and beyond when the user asked to remember it.
    void decided(const std::string& originValue, bool allowed, bool remember);
    const std::string& description() const { return settings_.description; }

private:
    bool isOwn(const Origin& origin) const;

    Settings settings_;
    RememberedSites remembered_;
    std::vector<Origin> listed_;
    bool nullListed_ = false;
    bool answered_ = false;      // the run's one question has been answered
    std::string allowedThisRun_;  // the site the user allowed in this run
};
