#pragma once
// The built-in echo application of test mode: answers every text with the text
// and " recibido", every binary message with its size.
#include "host/VirtualApplication.h"

#include <atomic>
#include <cstdint>

class TestApplication : public VirtualApplication {
public:
    enum State : int32_t { notStarted = 0, running = 1, closeRequested = 2 };

    void run() override;
    void onTextMessage(const char* bytes, int length) override;
    void onBinaryMessage(const char* bytes, int length) override;
    void onClose() override;
    void waitForEnd() override;

    int32_t state() const { return state_; }

private:
    // Written by the server thread (onClose) and the application thread (run).
    std::atomic<int32_t> state_{notStarted};
    std::atomic<bool> started_{false};
    std::atomic<bool> finished_{false};
};
