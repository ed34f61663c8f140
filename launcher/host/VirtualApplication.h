#pragma once
// A hosted application: what serves the one WebSocket connection. The embedded
// server sets the five callbacks before it calls run() on the application thread.
#include <string>

using StartedCallback = void (*)();
using ErrorCallback = void (*)(const char* text);
using TextCallback = void (*)(const char* text);
using BinaryCallback = void (*)(const char* bytes, int length);
using CloseCallback = void (*)();

class VirtualApplication {
public:
    virtual ~VirtualApplication() = default;

    StartedCallback startedCallback = nullptr;
    ErrorCallback errorCallback = nullptr;
    TextCallback textCallback = nullptr;
    BinaryCallback binaryCallback = nullptr;
    CloseCallback closeCallback = nullptr;

    // Application thread: the application's whole life. Calls startedCallback or
    // errorCallback once, and closeCallback when it ends after a start.
    virtual void run() = 0;
    // Server thread: a message from the web page (payload not NUL-terminated).
    virtual void onTextMessage(const char* bytes, int length) = 0;
    virtual void onBinaryMessage(const char* bytes, int length) = 0;
    // Server thread: the web page closed the connection or the server stops.
    virtual void onClose() = 0;
    // Server thread, after the server loop has ended: returns once run() has
    // returned. An application whose close may have been missed (a close that came
    // before it began to wait) repeats it here; the default just waits.
    virtual void waitForEnd() {}
    // Server thread, before the user is asked about a site: why the application
    // cannot start whatever happens (the error text its run() would report), or
    // empty when it may start. Nobody is asked to allow what cannot run.
    virtual std::string unavailable() const { return ""; }
    // Any thread: the application in the user's words, for the record written
    // when it does not end after a stop.
    virtual std::string description() const { return "La aplicación del usuario"; }
};
