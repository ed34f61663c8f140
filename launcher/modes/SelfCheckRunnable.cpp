#include "modes/SelfCheckRunnable.h"

#include "core/JsonReader.h"
#include "core/RequestArgument.h"
#include "server/EmbeddedServer.h"
#include "zelvo/dialog.h"
#include "zelvo/log.h"

namespace {

const char kCheckVerb[] = "check/";
const char kCaption[] = " Zelvo";

void report(zelvo::log::Severity severity, const std::string& text, zelvo::MessageIcon icon) {
    ZLOG(severity, "SelfCheckRunnable::run") << text;
    // The box belongs to the console window of the process (none without one).
    zelvo::showMessageBox(kCaption, text, icon, zelvo::MessageOwner::console);
}

}  // namespace

std::unique_ptr<SelfCheckRunnable> SelfCheckRunnable::create(int argc, char** argv, const JsonReader*) {
    if (argc != 2 || !RequestArgument::matches(argv[1], kCheckVerb)) return nullptr;
    std::string decoded = RequestArgument::decodedPayload(argv[1], kCheckVerb);
    LOG_INFO("SelfCheckRunnable::create") << "decodedParams: " << decoded;
    auto request = JsonReader::getInstance(decoded);
    if (!request) {
        LOG_ERROR("SelfCheckRunnable::create") << "No se obtuvo la información de los parámetros web";
        return nullptr;
    }
    LOG_VERBOSE("SelfCheckRunnable::create") << "Obteniendo información de parámetros web";
    std::string type;
    int port = 0;
    request->read("type", type);
    request->read("port", port);
    return std::make_unique<SelfCheckRunnable>(type, port);
}

int SelfCheckRunnable::run() {
    using zelvo::MessageIcon;
    using zelvo::log::Severity;
    if (type_ != "port") {
        report(Severity::info, "¡Launcher iniciado correctamente!", MessageIcon::information);
    } else if (!EmbeddedServerHelper::isValidPort(port_)) {
        report(Severity::error, "No se puede ejecutar la aplicación en un puerto no válido.", MessageIcon::error);
    } else if (EmbeddedServerHelper::isAvailablePort(port_)) {
        report(Severity::info, "Puerto " + std::to_string(port_) + " se encuentra DISPONIBLE.", MessageIcon::information);
    } else {
        report(Severity::error, "El puerto " + std::to_string(port_) + " no está disponible.", MessageIcon::error);
    }
    return 0;
}
