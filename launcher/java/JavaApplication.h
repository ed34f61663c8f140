#pragma once
// Hosts a Java application inside the launcher's process through JNI.
#include "core/Params.h"
#include "host/VirtualApplication.h"

#include <memory>

class JavaApplication : public VirtualApplication {
public:
    JavaApplication(const ServerRunnableParams& server, const AppWebParams& web, const JavaAppWebParams& java);
    ~JavaApplication() override;
    void run() override;
    void onTextMessage(const char* bytes, int length) override;
    void onBinaryMessage(const char* bytes, int length) override;
    void onClose() override;
    std::string description() const override;
    // No loader class configured: the text run() would report.
    std::string unavailable() const override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
