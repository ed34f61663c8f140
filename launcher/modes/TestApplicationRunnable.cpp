#include "modes/TestApplicationRunnable.h"

#include "core/JsonReader.h"
#include "core/RequestArgument.h"
#include "core/ServerRunnable.h"
#include "modes/BrowserDialog.h"
#include "modes/BrowserLauncher.h"
#include "modes/TestApplication.h"
#include "server/EmbeddedServer.h"
#include "zelvo/base64.h"
#include "zelvo/log.h"

#include <picojson.h>

#include <chrono>

namespace {
const char kTestVerb[] = "test/";
}

TestApplicationRunnable::TestApplicationRunnable(const ServerRunnableParams& server, bool openbrowser)
    : server_(server), openbrowser_(openbrowser) {}

TestApplicationRunnable::~TestApplicationRunnable() {
    if (serverThread_.joinable()) serverThread_.join();
}

std::unique_ptr<TestApplicationRunnable> TestApplicationRunnable::create(char** argv, const JsonReader* config) {
    if (!argv || !argv[0] || !argv[1] || !RequestArgument::matches(argv[1], kTestVerb)) return nullptr;
    ServerRunnableParams server;
    if (config) ServerRunnable::readServerParams(*config, server, false);
    auto request = JsonReader::getInstance(RequestArgument::decodedPayload(argv[1], kTestVerb));
    if (!request) return nullptr;

    bool useSsl = false;
    int port = 0;
    int idletimeout = 0;
    bool openbrowser = false;
    request->read("use_ssl", useSsl);  // read for the record; the browser choice decides TLS
    request->read("port", port);
    request->read("idletimeout", idletimeout);
    request->read("openbrowser", openbrowser);

    LOG_VERBOSE("TestApplicationRunnable::create") << "Parámetros encontrados para " << kTestVerb;
    if (port != 0) {
        server.port = port;
        LOG_VERBOSE("TestApplicationRunnable::create") << "server.port (overridden by webapp) " << server.port;
    } else {
        LOG_VERBOSE("TestApplicationRunnable::create") << "server.port " << server.port;
    }
    // As for a run request: a value below 1 never switches the time-out off.
    if (idletimeout > 0) {
        server.idletimeout = idletimeout;
        LOG_VERBOSE("TestApplicationRunnable::create")
            << "server.idletimeout (overridden by webapp) " << server.idletimeout;
    } else {
        LOG_VERBOSE("TestApplicationRunnable::create") << "server.idletimeout " << server.idletimeout;
    }
    LOG_VERBOSE("TestApplicationRunnable::create") << "server.basekey " << server.basekey;
    LOG_VERBOSE("TestApplicationRunnable::create") << "server.ssl_enabled " << (server.ssl_enabled ? 1 : 0);
    LOG_VERBOSE("TestApplicationRunnable::create") << "server.ssl_certpath " << server.ssl_certpath;
    LOG_VERBOSE("TestApplicationRunnable::create") << "server.ssl_certpass *********";
    LOG_VERBOSE("TestApplicationRunnable::create") << "server.java.loaderclass " << server.loaderclass;
    LOG_VERBOSE("TestApplicationRunnable::create") << "server.java.vmoptions.size " << server.vmoptions.size();
    LOG_VERBOSE("TestApplicationRunnable::create") << "openbrowser " << (openbrowser ? 1 : 0);
    return std::make_unique<TestApplicationRunnable>(server, openbrowser);
}

int TestApplicationRunnable::run() {
    if (openbrowser_) {
        // "Ejecutar" starts the server and opens the page; the dialog's close
        // (also after "Ejecutar") waits for the server to end.
        BrowserDialog::showBrowserDialog(
            "Probar Componente - Zelvo", true,
            [this](const std::string& command, bool secure) { runTest(command, secure); }, [this] { waitServer(); });
    } else {
        runTest("", false);
    }
    // The server's failure is the mode's failure: its box has been shown.
    return waitServer();
}

void TestApplicationRunnable::chooseTls(bool secure) {
    effectiveSsl_ = secure && server_.ssl_enabled;
    if (!effectiveSsl_) server_.ssl_enabled = false;
}

void TestApplicationRunnable::runTest(const std::string& browserCommand, bool secure) {
    if (serverThread_.joinable()) return;  // one server per mode
    chooseTls(secure);

    AppWebParams web;
    web.use_ssl = effectiveSsl_;
    ServerRunnableParams server = server_;
    server.application = "prueba";
    server.description = "la aplicación de prueba de Zelvo (eco)";
    serverEnded_ = false;
    serverThread_ = std::thread([this, server, web] {
        ServerRunnable runnable(server, web, std::make_unique<TestApplication>());
        serverResult_ = runnable.runServer();
        serverEnded_ = true;
    });

    if (openbrowser_) {
        LOG_VERBOSE("TestApplicationRunnable::runTest") << "Abriendo navegador";
        // A page opened before the server listens would only show an error.
        if (waitListening()) {
            BrowserLauncher::openInBrowser(browserCommand, buildTestUrl());
        } else {
            LOG_ERROR("TestApplicationRunnable::runTest") << "El servidor no se inició, no se abrirá el navegador";
        }
    } else {
        LOG_VERBOSE("TestApplicationRunnable::runTest") << "No se abrirá el navegador";
    }
}

bool TestApplicationRunnable::waitListening() const {
    // The probe reaches the loopback address only: a server bound elsewhere gets
    // the page after the wait all the same.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!serverEnded_ && std::chrono::steady_clock::now() < deadline) {
        if (!EmbeddedServerHelper::isAvailablePort(server_.port)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return !serverEnded_;
}

int TestApplicationRunnable::waitServer() {
    if (serverThread_.joinable()) serverThread_.join();
    return serverResult_;
}

std::string TestApplicationRunnable::buildTestUrl() const {
    // picojson's object is a std::map: the keys come out in ascending byte order.
    picojson::object params;
    params["idletimeout"] = picojson::value(std::to_string(server_.idletimeout));
    params["port"] = picojson::value(std::to_string(server_.port));
    params["use_ssl"] = picojson::value(std::string(server_.ssl_enabled ? "1" : ""));
    std::string json = picojson::value(params).serialize();
    return std::string(effectiveSsl_ ? "https://localhost:" : "http://localhost:") + std::to_string(server_.port) +
           "/test.html?" + zelvo::base64Encode(json);
}
