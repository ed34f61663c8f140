#include "modes/TestApplication.h"

#include <chrono>
#include <string>
#include <thread>

namespace {
constexpr auto kPollStep = std::chrono::milliseconds(100);
}

void TestApplication::run() {
    started_ = true;
    startedCallback();
    // A close that came before this point must not be overwritten.
    int32_t expected = notStarted;
    state_.compare_exchange_strong(expected, running);
    while (state_ == running) std::this_thread::sleep_for(kPollStep);
    closeCallback();
    finished_ = true;
}

void TestApplication::onTextMessage(const char* bytes, int length) {
    std::string answer(bytes, length > 0 ? static_cast<size_t>(length) : 0);
    answer += " recibido";
    textCallback(answer.c_str());
}

void TestApplication::onBinaryMessage(const char*, int length) {
    std::string answer = "Binario recibido: " + std::to_string(length) + " bytes";
    textCallback(answer.c_str());
}

void TestApplication::onClose() { state_ = closeRequested; }

void TestApplication::waitForEnd() {
    if (!started_) return;
    while (!finished_) {
        state_ = closeRequested;
        std::this_thread::sleep_for(kPollStep);
    }
}
