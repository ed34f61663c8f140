#pragma once
// The bridge: one listening port on the server thread, static files from html/
// beside the program, one admitted WebSocket relayed to the hosted application.
// All state is process-wide: one server per process.
#include "core/Params.h"

#include <string>

class VirtualApplication;

class EmbeddedServer {
public:
    // Parameters and the hosted application (not owned), set before run().
    static void configure(const ServerRunnableParams& server, const AppWebParams& web, VirtualApplication* application);
    // Validates and probes the port, then serves until the stop; false with the
    // user's error text on failure. Runs on the calling thread (the server thread).
    static bool run(std::string& error);
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
};

class EmbeddedServerHelper {
public:
    // 80, 443, or 1024..65534.
    static bool isValidPort(int port);
    // True when nothing accepts a connection on 127.0.0.1:port.
    static bool isAvailablePort(int port);
};
