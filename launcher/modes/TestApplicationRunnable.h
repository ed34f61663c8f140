#pragma once
// Test mode ("test/"): the server loop of server mode with the built-in echo
// application, and optionally the test page opened in a browser.
#include "core/Params.h"
#include "core/Runnable.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>

class JsonReader;

class TestApplicationRunnable : public Runnable {
public:
    // Looks at the first argument only; further arguments are ignored.
    static std::unique_ptr<TestApplicationRunnable> create(char** argv, const JsonReader* config);
    TestApplicationRunnable(const ServerRunnableParams& server, bool openbrowser);
    ~TestApplicationRunnable() override;

    int run() override;
    // Starts the server thread with TLS only when `secure` and configured; with
    // openbrowser, opens the test page with `browserCommand` (empty: the default
    // handler) once the server listens.
    void runTest(const std::string& browserCommand, bool secure);
    // TLS only when the user asked for it and the configuration allows it;
    // otherwise the configuration's switch is cleared too.
    void chooseTls(bool secure);
    // Waits for the server thread, if one was started; its exit code (0 without one).
    int waitServer();

    // http(s)://localhost:PORT/test.html?BASE64({"idletimeout":..,"port":..,"use_ssl":..})
    std::string buildTestUrl() const;

    const ServerRunnableParams& serverParams() const { return server_; }
    bool effectiveSsl() const { return effectiveSsl_; }
    bool openbrowser() const { return openbrowser_; }

private:
    ServerRunnableParams server_;
    bool effectiveSsl_ = false;
    bool openbrowser_ = false;
    bool waitListening() const;

    std::thread serverThread_;  // owned by the main thread, which starts and joins it
    int serverResult_ = 0;      // written by the server thread before it ends
    std::atomic<bool> serverEnded_{false};  // set by the server thread as it ends
};
