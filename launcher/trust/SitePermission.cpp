#include "SitePermission.h"

#include "trust/PublicSuffix.h"
#include "zelvo/log.h"

namespace {
const char kNull[] = "null";
}

SitePermission::SitePermission(Settings settings, RememberedSites remembered)
    : settings_(std::move(settings)), remembered_(std::move(remembered)) {
    for (const std::string& entry : settings_.allowedOrigins) {
        if (entry == kNull) {
            nullListed_ = true;
        } else if (auto origin = Origin::parse(entry, true)) {
            if (origin->subdomains && PublicSuffix::covers(origin->host)) {
                LOG_WARN("SitePermission::SitePermission")
                    << "El sitio \"" << entry << "\" de allowedorigins abarca el sufijo público " << origin->host
                    << ", donde cualquiera puede tener su sitio; no se tendrá en cuenta";
                continue;
            }
            listed_.push_back(*origin);
        } else {
            LOG_WARN("SitePermission::SitePermission")
                << "El sitio \"" << entry << "\" de allowedorigins no es válido, no se tendrá en cuenta";
        }
    }
}

bool SitePermission::isOwn(const Origin& origin) const {
    return (origin.scheme == "http" || origin.scheme == "https") && origin.port == settings_.serverPort &&
           (origin.host == "localhost" || origin.host == "127.0.0.1" || origin.host == "[::1]");
}

SitePermission::Verdict SitePermission::check(const std::string& originValue) const {
    if (originValue == kNull) {
        if (nullListed_) return Verdict::allow;
        LOG_WARN("SitePermission::check") << "El origen null solo se admite si está en allowedorigins";
        return Verdict::refuse;
    }
    auto origin = Origin::parse(originValue);
    if (!origin) {
        LOG_WARN("SitePermission::check") << "El origen de la petición no es válido: " << originValue;
        return Verdict::refuse;
    }
    if (isOwn(*origin)) {
        LOG_VERBOSE("SitePermission::check") << "Página del propio lanzador: " << originValue;
        return Verdict::allow;
    }
    for (const Origin& entry : listed_) {
        if (entry.admits(*origin)) {
            LOG_INFO("SitePermission::check") << "El sitio " << originValue << " está en allowedorigins";
            return Verdict::allow;
        }
    }
    if (!allowedThisRun_.empty() && origin->text() == allowedThisRun_) {
        LOG_INFO("SitePermission::check") << "El usuario permitió el sitio " << originValue << " en esta ejecución";
        return Verdict::allow;
    }
    switch (remembered_.find(origin->text(), settings_.application)) {
        case RememberedSites::Decision::allow:
            LOG_INFO("SitePermission::check") << "El usuario permitió antes el sitio " << originValue;
            return Verdict::allow;
        case RememberedSites::Decision::refuse:
            LOG_INFO("SitePermission::check") << "El usuario rechazó antes el sitio " << originValue;
            return Verdict::refusedBefore;
        case RememberedSites::Decision::none:
            break;
    }
    if (answered_) {
        LOG_WARN("SitePermission::check") << "Ya se preguntó al usuario en esta ejecución; no se preguntará por el sitio "
                                          << originValue;
        return Verdict::refuse;
    }
    return Verdict::ask;
}

void SitePermission::decided(const std::string& originValue, bool allowed, bool remember) {
    LOG_INFO("SitePermission::decided") << "El usuario " << (allowed ? "permitió" : "rechazó") << " el sitio "
                                        << originValue << (remember ? " y pidió recordarlo" : "");
    answered_ = true;
    auto origin = Origin::parse(originValue);
    if (!origin) return;
    if (allowed) allowedThisRun_ = origin->text();
    if (remember) remembered_.remember(origin->text(), settings_.application, allowed);
}
