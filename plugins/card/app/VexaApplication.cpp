#include "app/VexaApplication.h"

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

VexaResponse VexaApplication::doAction(const char* text) {
    LOG_INFO("VexaApplication::doAction") << "Procesando acción " << (text ? text : "");
    if (text == nullptr) APP_THROW("VexaApplication::doAction", "message==NULL", "Comando nulo");
    std::vector<std::string> tokens = parseCommand(text);
    if (tokens.empty()) APP_THROW("VexaApplication::doAction", "params.size()==0", "Comando vacío");
    auto found = actions().find(tokens[0]);
    if (found == actions().end())
        APP_THROW("VexaApplication::doAction", "", "Comando " + tokens[0] + " desconocido");
    LOG_INFO("VexaApplication::doAction") << "Ejecutando acción " << tokens[0];
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
