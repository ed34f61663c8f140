#pragma once
// The native kind of hosted application: a plug-in library found through the
// registry value "RuntimeLib" under basekey + name, with the five exports of the
// plug-in contract.
#include "core/Params.h"
#include "host/RuntimeLibLoader.h"
#include "host/VirtualApplication.h"
#include "zelvo/plugin_api.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

class WindowsApplication : public VirtualApplication {
public:
    WindowsApplication(const ServerRunnableParams& server, const AppWebParams& web);
    ~WindowsApplication() override;

    void run() override;
    void onTextMessage(const char* bytes, int length) override;
    void onBinaryMessage(const char* bytes, int length) override;
    void onClose() override;
    // Repeats the plug-in's onClose every 100 ms while its onConnect has not
    // returned, then waits for run() to end.
    void waitForEnd() override;
    std::string description() const override;
    // No "RuntimeLib" for basekey + name: the text run() would report.
    std::string unavailable() const override;

    static std::string getAppDllPath(const std::string& basekey, const std::string& name);
    static void setPathToDirectory(const std::string& path);

private:
    bool loadRuntimeEnvironment(const RuntimeLibLoader& loader);

    ServerRunnableParams server_;
    std::string type_;
    std::string name_;
    bool useSsl_;
    int32_t port_;
    int32_t idletimeout_;

    ZelvoOnConnect onConnect_ = nullptr;
    ZelvoOnTextMessage onTextMessage_ = nullptr;
    ZelvoOnBinaryMessage onBinaryMessage_ = nullptr;
    ZelvoOnClose onClose_ = nullptr;
    ZelvoRegisterSendMessageFunction registerSendMessageFunction_ = nullptr;

    // The application thread owns the library. `active_` is true from just before
    // the start is reported until onConnect returns; the server thread calls into
    // the plug-in only while it is true, under `pluginMutex_`, so the library is
    // never unloaded under a running call.
    std::mutex pluginMutex_;
    bool active_ = false;
    std::atomic<bool> running_{false};   // run() has begun
    std::atomic<bool> finished_{false};  // run() is about to return
};
