#include "EmbeddedServer.h"

#include "Listener.h"
#include "OutgoingBytes.h"
#include "Session.h"
#include "StopWatchdog.h"
#include "host/VirtualApplication.h"
#include "trust/Authority.h"
#include "trust/ConsentDialog.h"
#include "trust/SitePermission.h"
#include "zelvo/dialog.h"
#include "zelvo/log.h"
#include "zelvo/paths.h"
#include "zelvo/stop_signals.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/context.hpp>

#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <optional>
#include <thread>

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;

namespace {

// Deciding: the user is asked about a page's site; the time-out waits for the answer.
enum IdleState { idleNotStarted = 0, idleWaiting = 1, idleConnected = 2, idleDeciding = 3 };
enum AppState { appNotStarted = 0, appStarting = 1, appRunning = 2, appFailed = 3 };

constexpr auto pollPeriod = std::chrono::milliseconds(200);
// After the loop: how long answers and close handshakes on their way may take.
constexpr auto drainTime = std::chrono::seconds(2);
// From the stop request to the end of the run, whatever the application does.
constexpr auto stopGrace = std::chrono::seconds(5);
// The handshake's wait for the application's start looks at the stop flag this often.
constexpr auto startPollStep = std::chrono::milliseconds(100);

// Set by the signal handler and by the stop of the loop; 0 while running.
// Lock-free, so storing it is safe inside a signal handler.
std::atomic<int> g_stopFlag{0};
static_assert(std::atomic<int>::is_always_lock_free);

struct ServerState {
    // Written by configure() before run(); read by the server thread.
    ServerRunnableParams server;
    AppWebParams web;
    VirtualApplication* application = nullptr;
    std::string documentRoot;

    // Written by one thread, read by others; each a single value.
    std::atomic<int> idleState{idleNotStarted};
    std::atomic<int> appState{appNotStarted};

    // The application's messages on their way to the page; see OutgoingBytes.
    OutgoingBytes outgoing;

    // The application's report of its start; the handshake waits on it.
    std::mutex startMutex;
    std::condition_variable startChanged;
    std::string appError;  // guarded by startMutex

    // The idle timer sleeps on this until the first connection or the end of the run.
    std::mutex idleMutex;
    std::condition_variable idleChanged;
    bool runEnding = false;  // guarded by idleMutex
    std::chrono::steady_clock::time_point idleDeadline;  // guarded by idleMutex

    // The loop of the current run. Senders on other threads post to it under the
    // lock, so the loop cannot go away under them.
    std::mutex loopMutex;
    asio::io_context* loop = nullptr;
    std::thread::id serverThread;
    bool draining = false;  // server thread only: the loop has ended, connections are closing

    // Server thread only.
    std::shared_ptr<WebSocketConnection> active;
    SitePermission* permission = nullptr;  // of the current run
    ConsentDialog* consent = nullptr;      // of the current run
    // The page whose site the user is being asked about, held until the answer
    // or until it leaves; the site stays asked about until the answer.
    std::shared_ptr<WebSocketConnection> pending;
    std::string pendingOrigin;
    std::atomic<bool> siteRefused{false};  // the run ends because the user refused a site
    std::atomic<bool> applicationLaunched{false};  // written by the server thread
    std::thread appThread;
    std::atomic<bool> appThreadEnded{false};  // written by the application thread
    std::thread idleThread;
};

ServerState g_state;

// Runs `work` on the server thread: at once when called there, otherwise posted
// to the loop (posts from one thread keep their order). False without a loop.
template <class Work>
bool onServerThread(Work&& work) {
    std::unique_lock<std::mutex> lock(g_state.loopMutex);
    if (!g_state.loop) return false;
    if (std::this_thread::get_id() == g_state.serverThread) {
        lock.unlock();
        work();
        return true;
    }
    asio::post(*g_state.loop, std::forward<Work>(work));
    return true;
}

bool isServerThread() {
    std::lock_guard<std::mutex> lock(g_state.loopMutex);
    return g_state.loop && std::this_thread::get_id() == g_state.serverThread;
}

// Server thread: hands one message to the active connection.
void sendToPage(bool text, std::string bytes, OutgoingBytes::Ticket ticket) {
    if (!g_state.active) {
        if (text) {
            LOG_ERROR("EmbeddedServer::onTextMessage") << "No existe una conexión a la que enviar el mensaje";
        }
        return;
    }
    if (text) {
        LOG_VERBOSE("EmbeddedServer::onTextMessage")
            << "Enviando mensaje en texto a aplicación web. Mensaje " << bytes;
    } else {
        LOG_VERBOSE("EmbeddedServer::onByteArrayMessage")
            << "Enviando mensaje en binario a aplicación web. Tamaño del mensaje " << bytes.size();
    }
    g_state.active->send(text, std::move(bytes), std::move(ticket));
}

// Any thread: one message for the page. The server thread's own sends never
// wait (it is the one that writes them out); another thread waits while too many
// bytes wait to go out already, until there is room or the server stops.
void queueForPage(bool text, std::string bytes) {
    OutgoingBytes::Ticket ticket;
    bool accepted = true;
    if (isServerThread()) {
        ticket = g_state.outgoing.take(bytes.size());
    } else {
        accepted = g_state.outgoing.takeWhenRoom(bytes.size(), ticket);
    }
    if (accepted) {
        accepted = onServerThread([text, bytes = std::move(bytes), ticket = std::move(ticket)]() mutable {
            sendToPage(text, std::move(bytes), std::move(ticket));
        });
    }
    if (!accepted && text) {
        LOG_ERROR("EmbeddedServer::onTextMessage") << "No existe una conexión a la que enviar el mensaje";
    }
}

// Server thread: ends the loop; what is on its way goes out while it drains.
void stopLoop() {
    g_stopFlag.store(SIGTERM);
    std::lock_guard<std::mutex> lock(g_state.loopMutex);
    if (g_state.loop && !g_state.draining) g_state.loop->stop();
}

// Server thread: the close that onApplicationClose asks for.
void closeAndStop() {
    if (g_state.active) {
        LOG_VERBOSE("EmbeddedServer::onApplicationClose") << "Enviando mensaje de cierre a aplicación web";
        g_state.active->close();
        g_state.active.reset();
    }
    stopLoop();
}

// Server thread: the user refused a site (or left the window unanswered): the
// run ends, so that a page that tries again starts a launcher of its own.
void endAfterRefusal() {
    g_state.siteRefused.store(true);
    stopLoop();
}

void setIdleState(int value) {
    {
        std::lock_guard<std::mutex> lock(g_state.idleMutex);
        g_state.idleState.store(value);
    }
    g_state.idleChanged.notify_all();
}

void stopSignalHandler(int signalNumber) { EmbeddedServer::requestStop(signalNumber); }

// The watchdog's words for what keeps the run from ending.
std::string describeStuck() {
    if (g_state.applicationLaunched && !g_state.appThreadEnded.load() && g_state.application)
        return g_state.application->description();
    return "El servidor";
}

bool loadCertificate(asio::ssl::context& tls, const std::string& path, const std::string& password,
                     std::string& message) {
    beast::error_code ec;
    tls.set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                        asio::ssl::context::no_sslv3 | asio::ssl::context::single_dh_use,
                    ec);
    SSL_CTX_set_min_proto_version(tls.native_handle(), TLS1_2_VERSION);
    // A client that renegotiates again and again costs the server the handshake's work each time.
    SSL_CTX_set_options(tls.native_handle(), SSL_OP_NO_RENEGOTIATION);
    // Always answer the key's password question ourselves: the default would ask
    // on the terminal and block the server.
    tls.set_password_callback([password](std::size_t, asio::ssl::context::password_purpose) { return password; },
                              ec);
    tls.use_certificate_chain_file(path, ec);
    if (!ec) tls.use_private_key_file(path, asio::ssl::context::pem, ec);
    if (ec) {
        message = ec.message();
        return false;
    }
    return true;
}

}  // namespace

void EmbeddedServer::configure(const ServerRunnableParams& server, const AppWebParams& web,
                               VirtualApplication* application) {
    g_state.server = server;
    g_state.web = web;
    g_state.application = application;
}

void EmbeddedServer::setDocumentRoot(const std::string& folder) { g_state.documentRoot = folder; }

void EmbeddedServer::requestStop(int signalNumber) { g_stopFlag.store(signalNumber); }

void EmbeddedServer::installStopSignals() {
    g_stopFlag.store(0);
    zelvo::installStopHandler(&stopSignalHandler);
}

EmbeddedServer::End EmbeddedServer::run(std::string& error) {
    const int port = g_state.server.port;
    if (!EmbeddedServerHelper::isValidPort(port)) {
        LOG_ERROR("EmbeddedServer::run") << "El puerto " << port << " no es válido";
        error = "No se puede ejecutar la aplicación en un puerto no válido.";
        return End::failed;
    }
    if (!EmbeddedServerHelper::isAvailablePort(port)) {
        LOG_ERROR("EmbeddedServer::run") << "El puerto " << port << " no está disponible";
        error = "El puerto " + std::to_string(port) + " no está disponible.";
        return End::failed;
    }
    return runInternal(error);
}

EmbeddedServer::End EmbeddedServer::runInternal(std::string& error) {
    ServerState& s = g_state;
    s.idleState.store(idleNotStarted);
    s.appState.store(appNotStarted);
    {
        std::lock_guard<std::mutex> lock(s.startMutex);
        s.appError.clear();
    }
    {
        std::lock_guard<std::mutex> lock(s.idleMutex);
        s.runEnding = false;
    }
    s.active.reset();
    s.applicationLaunched = false;
    s.siteRefused = false;

    // Declared so that the loop goes before what its pending work refers to.
    std::optional<asio::ssl::context> tls;
    SessionRegistry sessions;
    ServerSettings settings;
    settings.documentRoot = DocumentRoot(s.documentRoot.empty() ? zelvo::programDir() + "html/" : s.documentRoot);
    // Messages reach the application with an int length.
    const std::uint64_t maxMessage = s.server.maxmessagesize;
    settings.maxMessageSize = static_cast<std::size_t>(maxMessage == 0 || maxMessage > INT_MAX ? INT_MAX : maxMessage);
    settings.hosts = HostRule(s.server.bindaddress);
    settings.contentSecurityPolicy = ServerSettings::pagePolicy(s.server.port);
    settings.outgoing = &s.outgoing;
    asio::io_context ioc{1};
    auto listener = std::make_shared<Listener>(ioc, settings, sessions);
    SitePermission permission({s.server.allowedorigins, s.server.port, s.server.application, s.server.description},
                              RememberedSites(RememberedSites::defaultPath()));
    ConsentDialog consent(ioc);  // goes before the loop it waits on

    beast::error_code ec;
    auto address = asio::ip::make_address(s.server.bindaddress.empty() ? "127.0.0.1" : s.server.bindaddress, ec);
    if (ec || !listener->open(tcp::endpoint(address, static_cast<unsigned short>(s.server.port)), ec)) {
        LOG_ERROR("EmbeddedServer::runInternal") << "No se puede crear el objeto servidor";
        LOG_DEBUG("EmbeddedServer::runInternal")
            << s.server.bindaddress << ":" << s.server.port << ": " << ec.message();
        error = "No se pudo crear una instancia del servidor.";
        return End::failed;
    }

    if (s.server.ssl_enabled && s.web.use_ssl) {
        LOG_INFO("EmbeddedServer::runInternal") << "Se iniciará el servidor con soporte para ssl";
        tls.emplace(asio::ssl::context::tls_server);
        std::string message;
        if (!loadCertificate(*tls, s.server.ssl_certpath, s.server.ssl_certpass, message)) {
            LOG_ERROR("EmbeddedServer::runInternal") << "Error cargando certificado. " << message;
            error =
                "No se pudo crear un servidor con una conexión segura. El certificado SSL es incorrecto o no se "
                "puede acceder a su contenido.";
            return End::failed;
        }
        listener->useTls(*tls);
    }

    listener->run();
    s.permission = &permission;
    s.consent = &consent;
    s.outgoing.open(settings.maxMessageSize);
    s.appThreadEnded.store(false);
    std::optional<StopWatchdog> watchdog;
    watchdog.emplace(stopGrace, StopWatchdog::Hooks{[] { return g_stopFlag.load() != 0; }, &describeStuck,
                                                    &StopWatchdog::exitNow});
    {
        std::lock_guard<std::mutex> lock(s.loopMutex);
        s.loop = &ioc;
        s.serverThread = std::this_thread::get_id();
        s.draining = false;
    }
    startIdleTimeout();

    LOG_INFO("EmbeddedServer::runInternal") << "Iniciando la ejecución del servidor";
    while (g_stopFlag.load() == 0) {
        ioc.run_for(pollPeriod);
        if (ioc.stopped()) ioc.restart();
    }
    LOG_INFO("EmbeddedServer::runInternal") << "Ejecución del servidor terminada correctamente";

    // Close everything: the page's connection tells the application as a close
    // from the page would; answers on their way get a little time.
    {
        std::lock_guard<std::mutex> lock(s.loopMutex);
        s.draining = true;
    }
    // Senders waiting for room give up: nothing more goes out.
    s.outgoing.close();
    listener->stop();
    consent.cancel();
    s.pending.reset();
    if (s.active) doWebSocketClose(s.active.get());
    sessions.stopAll();
    ioc.restart();
    const auto deadline = std::chrono::steady_clock::now() + drainTime;
    while (!ioc.stopped() && std::chrono::steady_clock::now() < deadline) ioc.run_for(pollPeriod);
    sessions.abortAll();
    ioc.restart();
    ioc.run_for(std::chrono::seconds(1));
    {
        std::lock_guard<std::mutex> lock(s.loopMutex);
        s.loop = nullptr;
        s.serverThread = std::thread::id();
    }
    s.active.reset();
    s.permission = nullptr;
    s.consent = nullptr;

    {
        std::lock_guard<std::mutex> lock(s.idleMutex);
        s.runEnding = true;
    }
    s.idleChanged.notify_all();
    if (s.idleThread.joinable()) s.idleThread.join();
    if (s.appThread.joinable()) {
        // An application whose close came before it began to wait repeats it here.
        if (s.application) s.application->waitForEnd();
        s.appThread.join();
    }
    watchdog.reset();

    if (s.appState.load() == appFailed) {
        std::lock_guard<std::mutex> lock(s.startMutex);
        error = s.appError;
        return End::failed;
    }
    return s.siteRefused.load() ? End::siteRefused : End::stopped;
}

void EmbeddedServer::startIdleTimeout() {
    const int timeout = g_state.server.idletimeout;
    LOG_VERBOSE("EmbeddedServer::startIdleTimeout")
        << "Se esperará " << timeout << " milisegundos para detener el servidor por inactividad";
    if (timeout < 1) return;
    {
        std::lock_guard<std::mutex> lock(g_state.idleMutex);
        g_state.idleDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
    }
    setIdleState(idleWaiting);
    g_state.idleThread = std::thread(&EmbeddedServer::waitIdleTimeout, timeout);
}

void EmbeddedServer::restartIdleTimeout() {
    const int timeout = g_state.server.idletimeout;
    {
        std::lock_guard<std::mutex> lock(g_state.idleMutex);
        if (timeout >= 1) {
            g_state.idleDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
            LOG_VERBOSE("EmbeddedServer::restartIdleTimeout")
                << "Se esperará de nuevo " << timeout << " milisegundos para detener el servidor por inactividad";
        }
    }
    setIdleState(idleWaiting);
}

void EmbeddedServer::waitIdleTimeout(int) {
    LOG_INFO("EmbeddedServer::waitIdleTimeout") << "Esperado a que el tiempo de espera por inactividad se agote";
    {
        ServerState& s = g_state;
        std::unique_lock<std::mutex> lock(s.idleMutex);
        for (;;) {
            // Woken by the first connection, or by the end of the run (a stop
            // signal must not wait for the time-out to pass).
            if (s.runEnding || s.idleState.load() == idleConnected) return;
            if (s.idleState.load() == idleDeciding) {
                // The user is asked about a page that arrived in time: the answer
                // admits it, ends the run, or starts the time-out again.
                s.idleChanged.wait(lock, [&] { return s.idleState.load() != idleDeciding || s.runEnding; });
                continue;
            }
            const auto deadline = s.idleDeadline;
            if (!s.idleChanged.wait_until(lock, deadline, [&] {
                    return s.idleState.load() != idleWaiting || s.runEnding || s.idleDeadline != deadline;
                }))
                break;
        }
    }
    LOG_INFO("EmbeddedServer::waitIdleTimeout") << "Se terminó el tiempo de espera por inactividad";
    onApplicationClose();
}

namespace {

// The first of at most 40 header names (up to an empty one) that is, in any case,
// the start of "origin" over its own length; npos when there is none.
std::size_t originPrefixHeader(const std::vector<std::string>& headerNames) {
    static const char origin[] = "origin";
    std::size_t count = 0;
    for (const std::string& name : headerNames) {
        if (count >= 40 || name.empty()) break;
        ++count;
        if (name.size() > sizeof origin - 1) continue;
        bool same = true;
        for (std::size_t i = 0; i < name.size() && same; ++i) {
            char c = name[i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            same = c == origin[i];
        }
        if (same) return count - 1;
    }
    return std::string::npos;
}

void refuseSite(const char* function, const std::string& origin) {
    LOG_ERROR(function) << "No se permite el acceso de la aplicación web del sitio " << origin;
}

}  // namespace

bool EmbeddedServer::isWebConnection(const std::vector<std::string>& headerNames) {
    if (originPrefixHeader(headerNames) != std::string::npos) return true;
    LOG_WARN("EmbeddedServer::isWebConnection") << "No se encuentra la cabecera origin";
    return false;
}

std::size_t EmbeddedServer::originHeader(const std::vector<std::string>& headerNames) {
    for (std::size_t i = 0; i < headerNames.size(); ++i)
        if (asciiLower(headerNames[i]) == "origin") return i;
    return std::string::npos;
}

Admission EmbeddedServer::doWebkSocketHandshakeRequest(const std::vector<std::string>& headerNames,
                                                       const std::vector<std::string>& headerValues,
                                                       const std::shared_ptr<WebSocketConnection>& connection) {
    ServerState& s = g_state;
    if (!isWebConnection(headerNames)) {
        LOG_ERROR("EmbeddedServer::doWebkSocketHandshakeRequest")
            << "La petición de conexión no es de una aplicación web";
        return Admission::refused;
    }
    // A header whose name only begins like "Origin" ("Or") makes the request a
    // page's, but the site is the one the browser names in "Origin" itself.
    const std::size_t index = originHeader(headerNames);
    if (index == std::string::npos || index >= headerValues.size()) {
        LOG_ERROR("EmbeddedServer::doWebkSocketHandshakeRequest")
            << "La petición de conexión no tiene una cabecera Origin; no se sabe de qué sitio es";
        return Admission::refused;
    }
    // One connection, and one application, per server run; none while stopping
    // or while the user is asked about a site.
    if (s.active || s.applicationLaunched || (s.consent && s.consent->open()) || g_stopFlag.load() != 0) {
        LOG_ERROR("EmbeddedServer::doWebkSocketHandshakeRequest")
            << "No se aceptará la petición de conexión de la aplicación web";
        return Admission::refused;
    }
    const std::string& origin = headerValues[index];
    const SitePermission::Verdict verdict = s.permission ? s.permission->check(origin) : SitePermission::Verdict::refuse;
    switch (verdict) {
        case SitePermission::Verdict::allow:
            return admit(connection) ? Admission::admitted : Admission::refused;
        case SitePermission::Verdict::ask: {
            // Nobody is asked to allow an application that cannot start.
            const std::string unavailable =
                s.application ? s.application->unavailable() : "No se encontró la aplicación del usuario.";
            if (!unavailable.empty()) {
                failBeforeStart(unavailable);
                return Admission::refused;
            }
            if (askUser(origin, connection)) return Admission::pending;
            break;
        }
        case SitePermission::Verdict::refusedBefore:
            refuseSite("EmbeddedServer::doWebkSocketHandshakeRequest", origin);
            endAfterRefusal();
            return Admission::refused;
        case SitePermission::Verdict::refuse:
            break;
    }
    refuseSite("EmbeddedServer::doWebkSocketHandshakeRequest", origin);
    return Admission::refused;
}

bool EmbeddedServer::askUser(const std::string& origin, const std::shared_ptr<WebSocketConnection>& connection) {
    ServerState& s = g_state;
    if (!zelvo::hasGraphicalSession() && !zelvo::getEnv("ZELVO_DIALOG")) {
        LOG_ERROR("EmbeddedServer::askUser") << "No hay una sesión gráfica en la que preguntar al usuario";
        return false;
    }
    LOG_INFO("EmbeddedServer::askUser") << "Se pregunta al usuario si permite el acceso del sitio " << origin;
    if (!s.consent || !s.consent->start(origin, s.permission->description(), &EmbeddedServer::onConsentAnswer))
        return false;
    s.pending = connection;
    s.pendingOrigin = origin;
    setIdleState(idleDeciding);
    return true;
}

void EmbeddedServer::doPendingClose(const WebSocketConnection* connection) {
    ServerState& s = g_state;
    if (!s.pending || s.pending.get() != connection) return;
    LOG_INFO("EmbeddedServer::doPendingClose")
        << "La página del sitio " << s.pendingOrigin
        << " ya no espera; la respuesta del usuario valdrá para su próxima conexión";
    s.pending.reset();
}

void EmbeddedServer::onConsentAnswer(const ConsentAnswer& answer) {
    ServerState& s = g_state;
    std::shared_ptr<WebSocketConnection> connection = std::move(s.pending);
    s.pending.reset();
    if (!s.permission) return;
    // An unanswered window is no decision of the user's: never remembered.
    s.permission->decided(s.pendingOrigin, answer.allowed, answer.remember && !answer.unanswered);
    if (!answer.allowed) {
        refuseSite("EmbeddedServer::onConsentAnswer", s.pendingOrigin);
        if (connection) connection->admissionDecided(false);
        endAfterRefusal();
        return;
    }
    if (g_stopFlag.load() != 0) {
        if (connection) connection->admissionDecided(false);
        return;
    }
    // No application for a page that may be gone: the page's next connection is
    // admitted (zelvo.js tries again while the launcher listens).
    if (connection && connection->stillWaiting()) {
        connection->admissionDecided(admit(connection));
        return;
    }
    if (connection) {
        LOG_INFO("EmbeddedServer::onConsentAnswer")
            << "La página del sitio " << s.pendingOrigin
            << " pudo dejar de esperar; la respuesta del usuario valdrá para su próxima conexión";
        connection->admissionDecided(false);
    }
    restartIdleTimeout();
}

void EmbeddedServer::failBeforeStart(const std::string& error) {
    onApplicationError(error.c_str());
    LOG_ERROR("EmbeddedServer::doWebkSocketHandshakeRequest")
        << "No se pudo ejecutar la aplicación del usuario. Error " << error;
    onApplicationClose();
}

bool EmbeddedServer::admit(const std::shared_ptr<WebSocketConnection>& connection) {
    ServerState& s = g_state;
    LOG_INFO("EmbeddedServer::doWebkSocketHandshakeRequest") << "Se aceptará la petición de conexión de la aplicación web";
    s.active = connection;
    setIdleState(idleConnected);
    s.appState.store(appStarting);
    runVirtualApplication();

    // The loop waits here: the handshake is answered only once the application
    // has started, so nothing it sends can precede the answer.
    // A stop ends the wait too: an application that never reports must not
    // hold the server (the stop's watchdog deals with its thread).
    std::string appError;
    {
        std::unique_lock<std::mutex> lock(s.startMutex);
        while (!s.startChanged.wait_for(lock, startPollStep, [&] { return s.appState.load() != appStarting; })) {
            if (g_stopFlag.load() != 0) {
                lock.unlock();
                LOG_ERROR("EmbeddedServer::doWebkSocketHandshakeRequest")
                    << "Se detiene el servidor antes de que la aplicación del usuario informara de su inicio";
                s.active.reset();
                return false;
            }
        }
        appError = s.appError;
    }
    if (s.appState.load() == appRunning) {
        LOG_INFO("EmbeddedServer::doWebkSocketHandshakeRequest") << "La aplicación del usuario está ejecutandose";
        return true;
    }
    LOG_ERROR("EmbeddedServer::doWebkSocketHandshakeRequest")
        << "No se pudo ejecutar la aplicación del usuario. Error " << appError;
    // The refused connection never opened: there is no close frame to send on it.
    s.active.reset();
    if (s.appThread.joinable()) s.appThread.join();
    onApplicationClose();
    return false;
}

void EmbeddedServer::runVirtualApplication() {
    ServerState& s = g_state;
    s.applicationLaunched = true;
    VirtualApplication* application = s.application;
    s.appThread = std::thread([application] {
        LOG_INFO("EmbeddedServer::runVirtualApplication") << "Comenzando ejecución de aplicación de usuario en un hilo";
        if (!application) {
            onApplicationError("No se encontró la aplicación del usuario.");
            return;
        }
        application->startedCallback = &EmbeddedServer::onApplicationStarted;
        application->errorCallback = &EmbeddedServer::onApplicationError;
        application->textCallback = &EmbeddedServer::onTextMessage;
        application->binaryCallback = &EmbeddedServer::onByteArrayMessage;
        application->closeCallback = &EmbeddedServer::onApplicationClose;
        application->run();
        // An application that ended without reporting its start must not leave
        // the handshake waiting for ever.
        if (g_state.appState.load() == appStarting) onApplicationError("La aplicación del usuario terminó sin iniciarse.");
        g_state.appThreadEnded.store(true);
    });
}

void EmbeddedServer::doWebsocketFrame(int flags, const char* bytes, std::size_t length) {
    LOG_VERBOSE("EmbeddedServer::doWebsocketFrame") << "flags: " << flags;
    VirtualApplication* application = g_state.application;
    switch (flags & 0x0f) {
        case 1:
            LOG_VERBOSE("EmbeddedServer::doWebsocketFrame") << "Enviando mensaje en texto de " << length << " bytes";
            if (application) application->onTextMessage(bytes, static_cast<int>(length));
            break;
        case 2:
            LOG_VERBOSE("EmbeddedServer::doWebsocketFrame")
                << "Enviando mensaje en binario de " << length << " bytes";
            if (application) application->onBinaryMessage(bytes, static_cast<int>(length));
            break;
        default:
            LOG_ERROR("EmbeddedServer::doWebsocketFrame") << "Tipo de mensaje websocket no soportado: " << flags;
            break;
    }
}

void EmbeddedServer::doWebSocketClose(const WebSocketConnection* connection) {
    ServerState& s = g_state;
    if (s.appState.load() == appRunning && s.active && s.active.get() == connection) {
        LOG_VERBOSE("EmbeddedServer::doWebSocketClose") << "Cerrando conexión websocket a petición de la aplicación web";
        auto keep = s.active;
        // The stop begins here: an application that hangs in its onClose is
        // already under the watchdog.
        g_stopFlag.store(SIGTERM);
        if (s.application) s.application->onClose();
        onApplicationClose();
        s.active.reset();
        return;
    }
    LOG_ERROR("EmbeddedServer::doWebSocketClose")
        << "Petición de cierre de websocket desconocida, no se realizará ninguna acción";
}

void EmbeddedServer::onApplicationStarted() {
    LOG_INFO("EmbeddedServer::onApplicationStarted") << "Aplicación de usuario iniciada correctamente";
    {
        std::lock_guard<std::mutex> lock(g_state.startMutex);
        g_state.appState.store(appRunning);
    }
    g_state.startChanged.notify_all();
}

void EmbeddedServer::onApplicationError(const char* text) {
    const std::string message = text ? text : "";
    LOG_ERROR("EmbeddedServer::onApplicationError") << "No se inició la aplicación del usuario. Error " << message;
    {
        std::lock_guard<std::mutex> lock(g_state.startMutex);
        g_state.appError = message;
        g_state.appState.store(appFailed);
    }
    g_state.startChanged.notify_all();
}

void EmbeddedServer::onTextMessage(const char* text) {
    // Copied before returning: the caller keeps its buffer.
    queueForPage(true, text ? text : "");
}

void EmbeddedServer::onByteArrayMessage(const char* bytes, int length) {
    if (length < 0 || (length > 0 && !bytes)) {
        LOG_ERROR("EmbeddedServer::onByteArrayMessage") << "Mensaje binario no válido de " << length << " bytes";
        return;
    }
    queueForPage(false, std::string(bytes ? bytes : "", static_cast<std::size_t>(length)));
}

void EmbeddedServer::onApplicationClose() {
    LOG_INFO("EmbeddedServer::onApplicationClose") << "Mensaje de cierre recibido de aplicación de usuario";
    // Without a loop there is nothing left to close or stop.
    onServerThread([] { closeAndStop(); });
}

bool EmbeddedServerHelper::isValidPort(int port) { return port == 80 || port == 443 || (port >= 1024 && port <= 65534); }

bool EmbeddedServerHelper::isAvailablePort(int port) {
    if (port < 1 || port > 65535) return false;
    asio::io_context ioc;
    tcp::socket probe(ioc);
    beast::error_code ec;
    probe.open(tcp::v4(), ec);
    if (ec) {
        LOG_WARN("EmbeddedServerHelper::isAvailablePort") << "No se pudo crear el socket. Se produjo el error " << ec.value();
        return false;
    }
    probe.connect(tcp::endpoint(asio::ip::address_v4::loopback(), static_cast<unsigned short>(port)), ec);
    if (ec) {
        LOG_VERBOSE("EmbeddedServerHelper::isAvailablePort") << "El puerto " << port << " está disponible";
        return true;
    }
    return false;
}
