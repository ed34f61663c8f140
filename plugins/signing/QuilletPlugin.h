#pragma once
// The signing plug-in's side of the launcher contract: one request made of a
// text part (the options) and a file part (the document), in either order;
// when both are there the wrapper runs and the signed file, or an error text
// as {"message":...}, goes back. Then the connection ends.
#include "QuilletInput.h"

#include "zelvo/plugin_api.h"

#include <atomic>
#include <string>

namespace quillet {

class QuilletPlugin {
public:
    void registerSendMessageFunction(ZelvoTextSender text, ZelvoBinarySender binary);
    // Returns when the request is over or the page has gone.
    void onConnect();
    void onTextMessage(const char* message);
    void onBinaryMessage(const char* data, int length);
    void onClose();

    void postTextMessage(const std::string& text);
    void postBinaryMessage(const std::string& bytes);
    void postErrorMessage(const std::string& message);
    void postSignedFile(const std::string& path);
    void runSigning();
    // Answers `message` as the error reply and ends the request.
    void failRequest(const std::string& message);

    bool ended() const { return state_ == kEnded; }
    const QuilletInput& input() const { return input_; }

    // {"message":"..."}: double quotes become single quotes; backslashes,
    // control characters and broken UTF-8 cannot break the JSON.
    static std::string errorReply(const std::string& message);
    // The first 80 characters and "..." when longer, for the log.
    static std::string shortened(const std::string& text);

private:
    // kLoaded until onConnect runs, kRunning while it waits, kEnded for good
    // once the request is over or the page has gone. onConnect moves only
    // kLoaded to kRunning, so an end that came first is never undone.
    enum State : int { kLoaded = 0, kRunning = 1, kEnded = 2 };
    void end() { state_ = kEnded; }

    std::atomic<int> state_{kLoaded};
    // Written by the application thread before any message can arrive, read by
    // the server thread.
    std::atomic<ZelvoTextSender> textSender_{nullptr};
    std::atomic<ZelvoBinarySender> binarySender_{nullptr};
    // Touched only by the message handlers (the launcher's server thread).
    QuilletInput input_;
};

// The plug-in's one request state, for the exports.
QuilletPlugin& plugin();
// The plug-in's log folder; empty when there is none.
std::string pluginLogFolder();

}  // namespace quillet
