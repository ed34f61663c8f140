#include "modes/SetCookiesRunnable.h"

#include "core/JsonReader.h"
#include "core/Params.h"
#include "core/RequestArgument.h"
#include "modes/BrowserDialog.h"
#include "modes/BrowserLauncher.h"
#include "zelvo/base64.h"
#include "zelvo/log.h"

#include <picojson.h>

namespace {
const char kSetVerb[] = "set/";
}

std::string SetCookiesRunnable::encodeProperties(int port, bool sslEnabled) {
    // picojson's object is a std::map: the keys come out in ascending byte order.
    picojson::object properties;
    properties["zelvo_port"] = picojson::value(std::to_string(port));
    if (sslEnabled) properties["zelvo_ssl_enabled"] = picojson::value(std::string("1"));
    return zelvo::base64Encode(picojson::value(properties).serialize());
}

std::unique_ptr<SetCookiesRunnable> SetCookiesRunnable::create(int argc, char** argv, const JsonReader* config) {
    if (argc != 2 || !RequestArgument::matches(argv[1], kSetVerb)) return nullptr;
    auto request = JsonReader::getInstance(RequestArgument::decodedPayload(argv[1], kSetVerb));
    if (!request) {
        LOG_ERROR("SetCookiesRunnable::create") << "No se obtuvo la información de los parámetros web";
        return nullptr;
    }
    LOG_VERBOSE("SetCookiesRunnable::create") << "Obteniendo información de parámetros web";
    std::string url;
    request->read("url", url);
    request.reset();
    if (!config) {
        LOG_ERROR("SetCookiesRunnable::create") << "No se obtuvo la información de la configuración de la aplicación";
        return nullptr;
    }
    LOG_VERBOSE("SetCookiesRunnable::create") << "Obteniendo información de configuración de aplicación web";
    ServerRunnableParams server;
    config->read("port", server.port);
    config->readSslEnabled(server.ssl_enabled);
    return std::make_unique<SetCookiesRunnable>(url, encodeProperties(server.port, server.ssl_enabled));
}

int SetCookiesRunnable::run() {
    // Refused before the user is asked for a browser.
    if (!BrowserLauncher::checkUrl(url_)) return 1;
    BrowserDialog::showBrowserDialog(
        "Publicar Propiedades - Zelvo", false,
        [this](const std::string& command, bool) { BrowserLauncher::openInBrowser(command, target()); }, [] {});
    return 0;
}
