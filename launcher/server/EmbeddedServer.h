#pragma once
// The bridge: one listening port on the server thread, static files from html/
// beside the program, one admitted WebSocket relayed to the hosted application.
// All state is process-wide: one server per process.
#include "core/Params.h"
#include "server/Session.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class VirtualApplication;
struct ConsentAnswer;
template <class Stream>
class WebSocketSession;

class EmbeddedServer {
public:
    // Parameters and the hosted application (not owned), set before run().
    static void configure(const ServerRunnableParams& server, const AppWebParams& web, VirtualApplication* application);
    // How a run ended: stopped (the page or the application closed, the idle
    // time-out, a stop signal), siteRefused (the user refused the site that
    // asked, now or in a remembered answer, or left the window unanswered), or
    // failed (with the user's error text).
    enum class End { stopped, siteRefused, failed };
    // Validates and probes the port, then serves until the stop. Runs on the
    // calling thread (the server thread).
    static End run(std::string& error);
    // Async-signal-safe: asks the loop to end (SIGINT/SIGTERM handler).
    static void requestStop(int signalNumber);
    // Installs the SIGINT/SIGTERM handler that calls requestStop.
    static void installStopSignals();

    // The application callbacks (plain functions, callable from any thread).
    static void onApplicationStarted();
    static void onApplicationError(const char* text);
    static void onTextMessage(const char* text);
    static void onByteArrayMessage(const char* bytes, int length);
    static void onApplicationClose();

    // Folder of the static files, ending in '/'; empty (the default) means the
    // folder "html" beside the program.
    static void setDocumentRoot(const std::string& folder);
    // True when one of the first 40 header names (up to an empty one) is, in any
    // case, the start of "origin" over its own length: the request comes from a page.
    static bool isWebConnection(const std::vector<std::string>& headerNames);
    // The index of the header named "Origin" (in any case), whose value the site
    // permission judges; npos when there is none.
    static std::size_t originHeader(const std::vector<std::string>& headerNames);

private:
    template <class Stream>
    friend class WebSocketSession;

    static End runInternal(std::string& error);
    static void startIdleTimeout();
    // The whole idle time-out again from now (the user allowed a site whose page
    // had left meanwhile: it comes back).
    static void restartIdleTimeout();
    static void waitIdleTimeout(int milliseconds);
    // Server thread: admits the upgrade request of `connection`, refuses it, or
    // asks the user about its site (pending: the answer comes through
    // admissionDecided). On admission it starts the application and returns once
    // it reported.
    static Admission doWebkSocketHandshakeRequest(const std::vector<std::string>& headerNames,
                                                  const std::vector<std::string>& headerValues,
                                                  const std::shared_ptr<WebSocketConnection>& connection);
    // Server thread: starts the application for an admitted page; false when it failed.
    static bool admit(const std::shared_ptr<WebSocketConnection>& connection);
    // Server thread: shows the consent window; false when it cannot be shown.
    static bool askUser(const std::string& origin, const std::shared_ptr<WebSocketConnection>& connection);
    static void onConsentAnswer(const ConsentAnswer& answer);
    // Server thread: the page whose site the user is asked about left; the
    // window stays, the answer is for the site.
    static void doPendingClose(const WebSocketConnection* connection);
    // Server thread: the application cannot start (nobody is asked about it).
    static void failBeforeStart(const std::string& error);
    static void runVirtualApplication();
    // Server thread: one whole message from the page (flags: FIN bit and opcode).
    static void doWebsocketFrame(int flags, const char* bytes, std::size_t length);
    // Server thread: the page's side of `connection` ended (close, error, too big).
    static void doWebSocketClose(const WebSocketConnection* connection);
};

class EmbeddedServerHelper {
public:
    // 80, 443, or 1024..65534.
    static bool isValidPort(int port);
    // True when nothing accepts a connection on 127.0.0.1:port.
    static bool isAvailablePort(int port);
};
