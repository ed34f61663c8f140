#include "app/ReadVexaAction.h"

#include "app/AppException.h"
#include "app/VexaApplication.h"
#include "zelvo/log.h"

VexaResponse ReadVexaAction::execute(const std::vector<std::string>& params) {
    LOG_INFO("ReadVexaAction::execute") << "Ejecutando lectura de Vexa";
    return read(params);
}

VexaResponse ReadVexaAction::read(const std::vector<std::string>& params) {
    VexaResponse response;
    bool any = false;
    for (size_t i = 1; i < params.size(); ++i) {
        LOG_INFO("ReadVexaAction::read") << "Parametro encontrado " << params[i];
        if (params[i] == "abi" || params[i] == "dg1" || params[i] == "dg2" || params[i] == "dg7") any = true;
    }
    if (!any) return response;
    // The card is reached, so the page learns about a missing reader or card;
    // the reading of its files is not part of this build yet.
    VexaApplication::openCard();
    APP_THROW("ReadVexaAction::read", "", "La lectura de la tarjeta no está disponible en esta versión");
}
