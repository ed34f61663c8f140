#include "core/ServerRunnable.h"

#include "core/JsonReader.h"
#include "core/RequestArgument.h"
#include "core/Startup.h"
#include "host/WindowsApplication.h"
#include "java/JavaApplication.h"
#include "server/EmbeddedServer.h"
#include "zelvo/dialog.h"
#include "zelvo/instance_lock.h"
#include "zelvo/log.h"
#include "zelvo/paths.h"
#include "zelvo/registry.h"

#include <optional>

namespace {

const char kRunVerb[] = "run/";
const char kRegisteredOrigins[] = "AllowedOrigins";
// A list of sites is longer than the 1024 bytes of the other values.
constexpr size_t kRegisteredOriginsBytes = 32768;

// Keys that came after the documented set: read only when present, so that an
// older application.config gives no warnings, and a failed read keeps the default.
void readNetworkParams(const JsonReader& config, ServerRunnableParams& params) {
    if (config.has("bindaddress")) {
        std::string address;
        if (config.read("bindaddress", address) && !address.empty()) params.bindaddress = address;
    }
    if (config.has("allowedorigins")) config.readList("allowedorigins", params.allowedorigins);
    if (config.has("maxmessagesize")) {
        int size = 0;
        if (config.read("maxmessagesize", size)) {
            if (size > 0) {
                params.maxmessagesize = static_cast<uint64_t>(size);
            } else {
                LOG_WARN("ServerRunnable::loadServerRunnableParams")
                    << "El campo maxmessagesize debe ser mayor que cero, se usará " << params.maxmessagesize;
            }
        }
    }
}

}  // namespace

ServerRunnable::ServerRunnable(const ServerRunnableParams& server, const AppWebParams& web,
                               std::unique_ptr<VirtualApplication> application)
    : server_(server), web_(web), application_(std::move(application)) {}

ServerRunnable::~ServerRunnable() = default;

void ServerRunnable::readServerParams(const JsonReader& config, ServerRunnableParams& params, bool withClasspath) {
    config.read("port", params.port);
    config.read("idletimeout", params.idletimeout);
    config.read("basekey", params.basekey);
    config.readSslEnabled(params.ssl_enabled);
    config.read("ssl", "certpath", params.ssl_certpath);
    config.read("ssl", "certpass", params.ssl_certpass);
    if (withClasspath) config.read("java", "classpath", params.classpath);
    config.read("java", "loaderclass", params.loaderclass);
    config.readVmOptions(params.vmoptions);
    readNetworkParams(config, params);
    readRegisteredOrigins(params.basekey, params.allowedorigins);
}

void ServerRunnable::readRegisteredOrigins(const std::string& basekey, std::vector<std::string>& origins) {
    if (basekey.empty()) return;
    std::string value;
    if (!zelvo::readRegistryString(basekey, kRegisteredOrigins, value, zelvo::RegistryView::own, kRegisteredOriginsBytes)) {
        LOG_INFO("ServerRunnable::readRegisteredOrigins")
            << "No hay sitios autorizados en el registro: la clave " << basekey << " no tiene un valor "
            << kRegisteredOrigins << " de texto de menos de " << kRegisteredOriginsBytes << " bytes";
        return;
    }
    const char* const blanks = " \t\r\n";
    size_t count = 0;
    for (size_t start = value.find_first_not_of(blanks); start != std::string::npos;
         start = value.find_first_not_of(blanks, start)) {
        const size_t end = value.find_first_of(blanks, start);
        origins.push_back(value.substr(start, end == std::string::npos ? std::string::npos : end - start));
        ++count;
        start = end;
    }
    LOG_INFO("ServerRunnable::readRegisteredOrigins")
        << "Sitios autorizados por el administrador en el registro (" << kRegisteredOrigins << "): " << count;
}

void ServerRunnable::loadServerRunnableParams(const JsonReader* config, ServerRunnableParams& params) {
    if (!config) {
        LOG_WARN("ServerRunnable::loadServerRunnableParams") << "Paramétros de la aplicación vacios";
        return;
    }
    LOG_INFO("ServerRunnable::loadServerRunnableParams") << "Obteniendo parámetros de la aplicación";
    readServerParams(*config, params, true);
}

std::unique_ptr<JsonReader> ServerRunnable::getWebReaderParams(const std::string& argument) {
    LOG_VERBOSE("ServerRunnable::getWebReaderParams") << "Parámetros web codificados " << argument;
    return JsonReader::getInstance(RequestArgument::decodedPayload(argument, kRunVerb));
}

void ServerRunnable::loadWebParams(const JsonReader* web, AppWebParams& params) {
    if (!web) {
        LOG_WARN("ServerRunnable::loadWebParams") << "No se pudo obtener la información de los parámetros web";
        return;
    }
    LOG_INFO("ServerRunnable::loadWebParams") << "Obteniendo paramétros web";
    web->read("type", params.type);
    web->read("name", params.name);
    web->read("use_ssl", params.use_ssl);
    web->read("port", params.port);
    web->read("idletimeout", params.idletimeout);
}

void ServerRunnable::nameApplication(const std::string& basekey, const AppWebParams& web,
                                     ServerRunnableParams& params) {
    // The page's own name for the application is never shown nor kept: it may
    // say anything, and "VEXA" or "vexa\\" name the same key as "vexa".
    const std::optional<std::string> key =
        basekey.empty() && web.name.empty() ? std::nullopt : zelvo::registryKeyName(basekey + web.name);
    if (key) {
        params.application = *key;
        std::string description;
        const bool described =
            zelvo::readRegistryString(basekey + web.name, "Description", description) && !description.empty();
        params.description = described ? description : *key;
    } else if (web.type == "java" && !params.loaderclass.empty()) {
        // A Java application without a key of its own is the configured loader's.
        params.application = params.loaderclass;
        params.description = "la aplicación Java " + params.loaderclass;
    }
}

void ServerRunnable::loadLocalParameters(const std::string& basekey, const std::string& name,
                                         ServerRunnableParams& params) {
    if (basekey.empty() || name.empty()) {
        LOG_INFO("ServerRunnable::loadLocalParameters") << "No se leerá información de configuracion adicional";
        return;
    }
    std::string path;
    if (!zelvo::readRegistryString(basekey + name, "application.config", path)) {
        LOG_WARN("ServerRunnable::loadLocalParameters")
            << "No se encontró un valor válido para el archivo de configuración adicional";
        return;
    }
    std::string text;
    if (!zelvo::readRegularFile(path, Startup::kLargestConfigFile, text)) {
        LOG_WARN("ServerRunnable::loadLocalParameters")
            << "No se puede leer la información del archivo de configuración adicional";
        return;
    }
    auto local = JsonReader::getInstance(text);
    if (!local) {
        LOG_WARN("ServerRunnable::loadLocalParameters")
            << "El archivo de configuración adicional no tiene el formato correcto";
        return;
    }
    int idletimeout = 0;
    if (local->read("idletimeout", idletimeout)) params.idletimeout = idletimeout;
    std::vector<std::string> vmoptions;
    if (local->readVmOptions(vmoptions)) params.vmoptions = vmoptions;
    std::string classpath;
    if (local->read("java", "classpath", classpath)) params.classpath += zelvo::kSearchPathSeparator + classpath;
    // The installer of one application may add the sites of its maker.
    if (local->has("allowedorigins")) local->readList("allowedorigins", params.allowedorigins);
}

std::unique_ptr<ServerRunnable> ServerRunnable::create(int argc, char** argv, const JsonReader* config) {
    if (argc != 2 || !RequestArgument::matches(argv[1], kRunVerb)) {
        LOG_INFO("ServerRunnable::create") << "No es una petición de ejecución de servidor";
        return nullptr;
    }
    ServerRunnableParams server;
    loadServerRunnableParams(config, server);
    std::unique_ptr<JsonReader> webReader = getWebReaderParams(argv[1]);
    AppWebParams web;
    loadWebParams(webReader.get(), web);
    loadLocalParameters(server.basekey, web.name, server);
    nameApplication(server.basekey, web, server);

    LOG_VERBOSE("ServerRunnable::create") << "Parámetros encontrados";
    if (web.port != 0) {
        server.port = web.port;
        LOG_VERBOSE("ServerRunnable::create") << "server.port (overridden by webapp) " << server.port;
    } else {
        LOG_VERBOSE("ServerRunnable::create") << "server.port " << server.port;
    }
    // A page may shorten or lengthen the wait, never switch it off: below 1 the
    // configured time-out stays, as for "0".
    if (web.idletimeout > 0) {
        server.idletimeout = web.idletimeout;
        LOG_VERBOSE("ServerRunnable::create") << "server.idletimeout (overridden by webapp) " << server.idletimeout;
    } else {
        LOG_VERBOSE("ServerRunnable::create") << "server.idletimeout " << server.idletimeout;
    }
    LOG_VERBOSE("ServerRunnable::create") << "server.basekey " << server.basekey;
    LOG_VERBOSE("ServerRunnable::create") << "server.ssl_enabled " << (server.ssl_enabled ? 1 : 0);
    LOG_VERBOSE("ServerRunnable::create") << "server.ssl_certpath " << server.ssl_certpath;
    LOG_VERBOSE("ServerRunnable::create") << "server.ssl_certpass *********";
    LOG_VERBOSE("ServerRunnable::create") << "server.java.loaderclass " << server.loaderclass;
    LOG_VERBOSE("ServerRunnable::create") << "server.java.vmoptions.size " << server.vmoptions.size();
    LOG_VERBOSE("ServerRunnable::create") << "appWebParams.type " << web.type;
    LOG_VERBOSE("ServerRunnable::create") << "appWebParams.name " << web.name;
    LOG_VERBOSE("ServerRunnable::create") << "appWebParams.use_ssl " << (web.use_ssl ? 1 : 0);
    LOG_VERBOSE("ServerRunnable::create") << "server.java.classpath " << server.classpath;
    LOG_VERBOSE("ServerRunnable::create") << "server.bindaddress " << server.bindaddress;
    LOG_VERBOSE("ServerRunnable::create") << "server.maxmessagesize " << server.maxmessagesize;
    LOG_VERBOSE("ServerRunnable::create") << "server.allowedorigins.size " << server.allowedorigins.size();
    LOG_VERBOSE("ServerRunnable::create") << "server.application " << server.application;
    LOG_VERBOSE("ServerRunnable::create") << "server.description " << server.description;

    std::unique_ptr<ServerRunnable> runnable;
    if (web.type == "windows") {
        LOG_VERBOSE("ServerRunnable::create") << "appWebParams.name " << web.name;
        auto application = std::make_unique<WindowsApplication>(server, web);
        runnable = std::make_unique<ServerRunnable>(server, web, std::move(application));
    } else if (web.type == "java") {
        JavaAppWebParams java;
        webReader->readArchive(java.archive);
        webReader->read("code", java.code);
        LOG_VERBOSE("ServerRunnable::create") << "javaAppWebParams.code " << java.code;
        LOG_VERBOSE("ServerRunnable::create") << "javaAppWebParams.archive.size " << java.archive.size();
        auto application = std::make_unique<JavaApplication>(server, web, java);
        runnable = std::make_unique<ServerRunnable>(server, web, std::move(application));
    }
    return runnable;
}

int ServerRunnable::run() {
    if (!application_) return 1;
    return runServer();
}

int ServerRunnable::runServer() {
    // Held until this function returns; the system drops it if the process dies.
    zelvo::InstanceLock::Outcome outcome;
    std::string lockError;
    std::unique_ptr<zelvo::InstanceLock> lock = zelvo::InstanceLock::acquire(outcome, lockError);
    if (outcome == zelvo::InstanceLock::Outcome::failed) {
        LOG_ERROR("ServerRunnable::runServer") << lockError;
        zelvo::showMessageBox("Error en aplicación", lockError, zelvo::MessageIcon::error);
        return 1;
    }
    if (outcome == zelvo::InstanceLock::Outcome::heldByOther) {
        LOG_WARN("ServerRunnable::runServer") << "Ya se está ejecutando otra instancia de la la aplicación";
        zelvo::showMessageBox("Error en aplicación", "Ya se está ejecutando la aplicación", zelvo::MessageIcon::error);
        return 1;
    }
    EmbeddedServer::installStopSignals();
    EmbeddedServer::configure(server_, web_, application_.get());
    std::string error;
    // The server joins the application thread (after its waitForEnd) before it returns.
    switch (EmbeddedServer::run(error)) {
        case EmbeddedServer::End::stopped:
            LOG_WARN("ServerRunnable::runServer") << "Ejecución del servidor terminada correctamente";
            return 0;
        case EmbeddedServer::End::siteRefused:
            // The user (or their remembered answer) said no: they know, no box. A
            // page that tries again starts a launcher of its own.
            LOG_ERROR("ServerRunnable::runServer")
                << "Ejecución del servidor terminada: no se permitió el acceso del sitio";
            return 1;
        case EmbeddedServer::End::failed:
            break;
    }
    LOG_WARN("ServerRunnable::runServer") << "No se pudo ejecutar el servidor";
    zelvo::showMessageBox("Error en aplicación", error, zelvo::MessageIcon::error);
    return 1;
}
