#include "RememberedSites.h"

#include "trust/Authority.h"
#include "trust/Origin.h"
#include "zelvo/json_nesting.h"
#include "zelvo/json_quote.h"
#include "zelvo/log.h"
#include "zelvo/local_time.h"
#include "zelvo/paths.h"
#include "zelvo/private_file.h"

#include <picojson.h>


namespace {

// Far more than any user will ever remember; a bigger file is not ours.
constexpr std::size_t maxFileSize = 1 << 20;

const char kAllow[] = "allow";
const char kRefuse[] = "refuse";

const std::string* stringMember(const picojson::object& object, const char* name) {
    auto it = object.find(name);
    return it != object.end() && it->second.is<std::string>() ? &it->second.get<std::string>() : nullptr;
}

}  // namespace

RememberedSites::RememberedSites(std::string path) : path_(std::move(path)) {}

std::string RememberedSites::defaultPath() { return zelvo::userConfigDir() + "permisos.json"; }

RememberedSites::Contents RememberedSites::load() const {
    Contents contents;
    std::string text;
    switch (zelvo::readPrivateFile(path_, maxFileSize, text)) {
        case zelvo::PrivateRead::missing:
            return contents;
        case zelvo::PrivateRead::unreadable:
            contents.exists = true;
            contents.usable = false;
            LOG_WARN("RememberedSites::load") << "No se puede leer el archivo de sitios recordados " << path_;
            return contents;
        case zelvo::PrivateRead::notRegular:
            // A link, a FIFO or a device in its place is neither followed nor waited on.
            contents.exists = true;
            contents.usable = false;
            LOG_WARN("RememberedSites::load") << "El archivo de sitios recordados no es un archivo válido: " << path_;
            return contents;
        case zelvo::PrivateRead::notPrivate:
            contents.exists = true;
            contents.usable = false;
            // Another user who may write the file could grant any site in our name.
            LOG_WARN("RememberedSites::load")
                << "El archivo de sitios recordados puede ser modificado por otros usuarios, no se usará: " << path_;
            return contents;
        case zelvo::PrivateRead::ok:
            break;
    }
    contents.exists = true;
    contents.usable = false;
    picojson::value root;
    if (zelvo::jsonNestedDeeperThan(text) || !picojson::parse(root, text).empty() ||
        !root.is<picojson::object>() ||
        !root.get<picojson::object>().count("sites") ||
        !root.get<picojson::object>().at("sites").is<picojson::array>()) {
        LOG_WARN("RememberedSites::load") << "El archivo de sitios recordados no tiene el formato correcto: " << path_;
        return contents;
    }
    // One entry we cannot read makes the whole file suspect: rewriting it without
    // that entry would lose it silently.
    for (const picojson::value& entry : root.get<picojson::object>().at("sites").get<picojson::array>()) {
        const std::string* origin = nullptr;
        const std::string* application = nullptr;
        const std::string* decision = nullptr;
        if (entry.is<picojson::object>()) {
            const auto& object = entry.get<picojson::object>();
            origin = stringMember(object, "origin");
            application = stringMember(object, "application");
            decision = stringMember(object, "decision");
        }
        auto parsed = origin ? Origin::parse(*origin) : std::nullopt;
        if (!parsed || !application || !decision || (*decision != kAllow && *decision != kRefuse)) {
            LOG_WARN("RememberedSites::load")
                << "El archivo de sitios recordados tiene una entrada no válida: " << path_;
            contents.decisions.clear();
            return contents;
        }
        contents.decisions[{parsed->text(), *application}] = *decision == kAllow;
    }
    contents.usable = true;
    return contents;
}

RememberedSites::Decision RememberedSites::find(const std::string& origin, const std::string& application) const {
    Contents contents = load();
    auto it = sameEntry(contents, origin, application);
    if (it == contents.decisions.end()) return Decision::none;
    return it->second ? Decision::allow : Decision::refuse;
}

std::map<RememberedSites::Key, bool>::iterator RememberedSites::sameEntry(Contents& contents, const std::string& origin,
                                                                         const std::string& application) {
    // The registry names applications in any case: "VEXA" is "vexa".
    const std::string wanted = asciiLower(application);
    return std::find_if(contents.decisions.begin(), contents.decisions.end(), [&](const auto& entry) {
        return entry.first.first == origin && asciiLower(entry.first.second) == wanted;
    });
}

bool RememberedSites::remember(const std::string& origin, const std::string& application, bool allowed) const {
    Contents contents = load();
    if (contents.exists && !contents.usable) {
        if (!keepAside()) return false;
        contents = Contents{};
    }
    auto earlier = sameEntry(contents, origin, application);
    if (earlier != contents.decisions.end()) contents.decisions.erase(earlier);
    contents.decisions[{origin, application}] = allowed;
    if (!write(contents)) return false;
    LOG_INFO("RememberedSites::remember") << "Se recordará " << (allowed ? "el permiso" : "el rechazo")
                                          << " para el sitio " << origin << " en " << path_;
    return true;
}

bool RememberedSites::keepAside() const {
    const std::string stamp = zelvo::localTimeText("%Y%m%d-%H%M%S");
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string aside = path_ + ".invalido-" + stamp + (attempt ? "-" + std::to_string(attempt) : "");
        // Never over an earlier file kept aside.
        switch (zelvo::moveAside(path_, aside)) {
            case zelvo::MoveAside::moved:
                LOG_WARN("RememberedSites::keepAside")
                    << "El archivo de sitios recordados no válido se guardó como " << aside;
                return true;
            case zelvo::MoveAside::sourceMissing:
                return true;  // gone meanwhile: nothing to keep
            case zelvo::MoveAside::targetExists:
                continue;
            case zelvo::MoveAside::failed:
                break;
        }
        break;
    }
    LOG_ERROR("RememberedSites::keepAside")
        << "No se pudo apartar el archivo de sitios recordados " << path_ << ", no se guardará la decisión";
    return false;
}

bool RememberedSites::write(const Contents& contents) const {
    std::string text = "{\n  \"sites\": [";
    const char* separator = "\n";
    for (const auto& [key, allowed] : contents.decisions) {
        text += separator;
        text += "    {\"origin\": " + zelvo::jsonQuoted(key.first) +
                ", \"application\": " + zelvo::jsonQuoted(key.second) + ", \"decision\": \"" +
                (allowed ? kAllow : kRefuse) + "\"}";
        separator = ",\n";
    }
    text += "\n  ]\n}\n";

    const bool ok = zelvo::replacePrivateFile(path_, text);
    if (!ok) {
        LOG_ERROR("RememberedSites::write") << "No se pudo guardar el archivo de sitios recordados " << path_;
    }
    return ok;
}
