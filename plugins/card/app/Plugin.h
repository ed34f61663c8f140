#pragma once
// The state of a loaded plug-in behind its five exports.
#include <atomic>

#include "base/AppException.h"
#include "app/ConnectionState.h"
#include "zelvo/plugin_api.h"

namespace plugin {

// Written by registerSendMessageFunction on the application thread, read on
// the server thread: atomics, no lock.
struct Senders {
    std::atomic<ZelvoTextSender> text{nullptr};
    std::atomic<ZelvoBinarySender> binary{nullptr};
};

Senders& senders();
ConnectionState& connection();

// Global::init and VexaApplication::init, once, from whichever export comes first.
void ensureInitialised();
// Sends `text` through the text sender, if there is one.
void send(const std::string& text);
// The failure reply, then the close.
void returnError(const AppException& exception);

}  // namespace plugin

ZELVO_EXPORT void registerSendMessageFunction(ZelvoTextSender textSender, ZelvoBinarySender binarySender);
ZELVO_EXPORT void onConnect();
ZELVO_EXPORT void onTextMessage(const char* message);
ZELVO_EXPORT void onBinaryMessage(const char* data, int length);
ZELVO_EXPORT void onClose();
ZELVO_EXPORT int test();
