#include "app/ChangePinVexaAction.h"

#include "app/AppException.h"
#include "zelvo/log.h"

VexaResponse ChangePinVexaAction::execute(const std::vector<std::string>&) {
    LOG_INFO("ChangePinVexaAction::execute") << "Ejecutando cambio de PIN";
    // The PIN dialog is not part of this build yet: say so rather than pretend.
    APP_THROW("ChangePinVexaAction::execute", "", "El cambio de PIN no está disponible en esta versión");
}
