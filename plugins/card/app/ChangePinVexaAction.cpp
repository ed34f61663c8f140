#include "app/ChangePinVexaAction.h"

#include "base/AppException.h"
#include "app/PinDialog.h"
#include "app/Vexa.h"
#include "app/VexaApplication.h"
#include "zelvo/log.h"

namespace {
// Wipes the accepted PINs however the change ends.
struct PinsWiper {
    ~PinsWiper() { PinDialog::wipe(); }
};
}  // namespace

VexaResponse ChangePinVexaAction::execute(const std::vector<std::string>& params) {
    LOG_INFO("ChangePinVexaAction::execute") << "Ejecutando cambio de pin";
    return changepin(params);
}

VexaResponse ChangePinVexaAction::changepin(const std::vector<std::string>& params) {
    static const char* const kFunction = "ChangePinVexaAction::changepin";
    if (params.size() < 2) APP_THROW(kFunction, "params.size()<2", "Tipo de PIN a cambiar no indicado");
    LOG_INFO(kFunction) << "Tipo de pin es " << VexaApplication::quote(params[1]);
    const bool auth = params[1] == "auth";
    if (!auth && params[1] != "sign") APP_THROW(kFunction, "params[1]", "Tipo de PIN a cambiar no válido");

    PinsWiper wiper;
    VexaResponse response;
    if (PinDialog::backgroundRun(auth ? PinDialog::AUTH : PinDialog::SIGN) != 0) {
        LOG_INFO(kFunction) << "Cambio de pin cancelado";
        response.add("message", "Se ha cancelado la actualización del PIN");
        response.addCancelCode();
        return response;
    }
    LOG_INFO(kFunction) << "Realizando cambio de pin";
    CredentialResult result =
        VexaApplication::getVexaInstance().cambiarPin(auth ? 1 : 4, PinDialog::currentPin(), PinDialog::newPin());
    response.add("message", result.message);
    response.add("code", std::to_string(static_cast<int>(result.status)));
    return response;
}
