#pragma once
// Self-check mode ("check/"): proves the launcher starts, or tells whether a port
// on the loopback address is free, with one message box.
#include "core/Runnable.h"

#include <memory>
#include <string>

class JsonReader;

class SelfCheckRunnable : public Runnable {
public:
    // The configuration reader is not used.
    static std::unique_ptr<SelfCheckRunnable> create(int argc, char** argv, const JsonReader* config);
    SelfCheckRunnable(const std::string& type, int port) : type_(type), port_(port) {}

    // Shows the box; always 0.
    int run() override;

    const std::string& type() const { return type_; }
    int port() const { return port_; }

private:
    std::string type_;  // "port" selects the port check
    int port_;
};
