#include "app/VexaApplication.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "base/AppException.h"
#include "app/ChangePinVexaAction.h"
#include "app/ReadVexaAction.h"
#include "smartcardio/CardChannel.h"
#include "smartcardio/CardTerminal.h"
#include "app/Vexa.h"
#include "vexaldscore/VexaLds.h"
#include "vexapkicore/VexaPki.h"
#include "zelvo/log.h"

VexaApplication::CardObjects::CardObjects() = default;
VexaApplication::CardObjects::~CardObjects() { reset(); }

void VexaApplication::CardObjects::reset() {
    // Users first: the application objects, then the card connection, then the context.
    vexa.reset();
    lds.reset();
    pki.reset();
    channel.reset();
    terminal.reset();
}

std::map<std::string, std::unique_ptr<VexaAction>>& VexaApplication::actions() {
    static std::map<std::string, std::unique_ptr<VexaAction>> registry;
    return registry;
}

VexaApplication::CardObjects& VexaApplication::cardObjects() {
    static CardObjects objects;
    return objects;
}

void VexaApplication::init() {
    static std::once_flag once;
    std::call_once(once, [] {
        LOG_INFO("VexaApplication::init") << "Inicializando aplicación";
        actions()["read"] = std::make_unique<ReadVexaAction>();
        actions()["changepin"] = std::make_unique<ChangePinVexaAction>();
    });
}

std::vector<std::string> VexaApplication::parseCommand(const char* text) {
    std::vector<std::string> tokens;
    if (text == nullptr) return tokens;
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
    const char* p = text;
    while (*p != '\0') {
        while (*p != '\0' && blank(*p)) ++p;
        const char* start = p;
        while (*p != '\0' && !blank(*p)) ++p;
        if (p != start) tokens.emplace_back(start, p);
    }
    return tokens;
}

std::string VexaApplication::quote(const char* text) {
    static constexpr size_t kQuoted = 1024;
    const size_t length = text ? std::strlen(text) : 0;
    size_t cut = std::min(length, kQuoted);
    // Not in the middle of a UTF-8 character.
    while (cut > 0 && cut < length && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    std::string out(text ? text : "", cut);
    if (length <= kQuoted) return out;
    return out + "... (" + std::to_string(length) + " bytes)";
}

VexaResponse VexaApplication::doAction(const char* text) {
    static const char* const kFunction = "VexaApplication::doAction";
    LOG_INFO(kFunction) << "Procesando acción " << quote(text);
    if (text == nullptr) APP_THROW(kFunction, "message==NULL", "Comando nulo");
    if (strnlen(text, kMaxCommand + 1) > kMaxCommand)
        APP_THROW(kFunction, "strlen(message)>65536", "Comando demasiado largo");
    std::vector<std::string> tokens = parseCommand(text);
    if (tokens.empty()) APP_THROW(kFunction, "params.size()==0", "Comando vacío");
    auto found = actions().find(tokens[0]);
    // The page gets the name back; the log, like the reply, stays short.
    if (found == actions().end())
        APP_THROW(kFunction, "", "Comando " + (tokens[0].size() > 1024 ? quote(tokens[0]) : tokens[0]) + " desconocido");
    LOG_INFO(kFunction) << "Ejecutando acción " << tokens[0];
    return found->second->execute(tokens);
}

Vexa& VexaApplication::getVexaInstance() {
    CardObjects& card = cardObjects();
    if (card.vexa) return *card.vexa;
    LOG_INFO("VexaApplication::getVexaInstance") << "Inicializando objetos de smartcard";
    card.reset();
    try {
        card.terminal = smartcardio::CardTerminal::getInstance();
        std::vector<std::string> readers = card.terminal->readers();
        card.channel = smartcardio::CardChannel::getInstance(*card.terminal, readers.front());
        card.pki = vexapkicore::VexaPki::getInstance(*card.channel);
        card.lds = vexaldscore::VexaLds::getInstance(*card.channel);
        card.vexa = std::make_unique<Vexa>(*card.pki, *card.lds);
    } catch (...) {
        card.reset();
        throw;
    }
    return *card.vexa;
}
