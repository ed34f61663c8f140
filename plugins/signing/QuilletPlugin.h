#pragma once
// The signing plug-in's side of the launcher contract: one request made of a
// text part (the options) and a file part (the document), in either order;
// when both are there the wrapper runs and the signed file, or an error text
// as {"message":...}, goes back. Then the connection ends.
#include "Config.h"
#include "QuilletInput.h"
#include "process/StopSignal.h"

#include "zelvo/plugin_api.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace quillet {

class QuilletPlugin {
public:
    QuilletPlugin() = default;
    // Ends and joins a run still going (a library unloaded without onConnect).
    ~QuilletPlugin();
    QuilletPlugin(const QuilletPlugin&) = delete;
    QuilletPlugin& operator=(const QuilletPlugin&) = delete;

    void registerSendMessageFunction(ZelvoTextSender text, ZelvoBinarySender binary);
    // Returns when the request is over or the page has gone, and never before a
    // signing run has ended: its wrapper gone, its files removed.
    void onConnect();
    // Both return at once: the part that completes the request starts the
    // signing run on a thread of its own.
    void onTextMessage(const char* message);
    void onBinaryMessage(const char* data, int length);
    // Ends the request; a signing run still going is asked to end (its wrapper
    // is stopped, its files removed, the page told when still connected).
    void onClose();

    void postTextMessage(const std::string& text);
    void postBinaryMessage(const std::string& bytes);
    void postErrorMessage(const std::string& message);
    // Sends the signed file; false (after the error reply) when it cannot be read.
    bool postSignedFile(const std::string& path);
    // The whole signing run of a complete request, on the run thread.
    void runSigning(QuilletInput& input);
    // Answers `message` as the error reply and ends the request.
    void failRequest(const std::string& message);

    bool ended() const { return state_ == kEnded; }

    // {"message":"..."}: double quotes become single quotes; backslashes,
    // control characters and broken UTF-8 cannot break the JSON.
    static std::string errorReply(const std::string& message);
    // The first 80 characters and "..." when longer, for the log.
    static std::string shortened(const std::string& text);

    static constexpr const char* kTimedOut = "El proceso de firma no terminó a tiempo.";
    static constexpr const char* kCancelled = "El proceso de firma fue cancelado.";

private:
    // kLoaded until onConnect runs, kRunning while it waits, kEnded for good
    // once the request is over or the page has gone. onConnect moves only
    // kLoaded to kRunning, so an end that came first is never undone.
    enum State : int { kLoaded = 0, kRunning = 1, kEnded = 2 };
    void end() { state_ = kEnded; }
    // Server thread: true, with a warning, once the request is over or running.
    bool ignoresMessages() const;
    // Server thread: hands the complete request over to a run thread.
    void startRun();
    void joinRun();
    // Runs the wrapper on the files written for `input` and answers the page;
    // false when the run was cut short (time limit or onClose).
    bool runWrapper(const Config& config, const process::CommandLine& commandLine, const QuilletInput& input);

    std::atomic<int> state_{kLoaded};
    // Written by the application thread before any message can arrive, read by
    // the server thread and the run thread.
    std::atomic<ZelvoTextSender> textSender_{nullptr};
    std::atomic<ZelvoBinarySender> binarySender_{nullptr};
    // Touched only by the message handlers (the launcher's server thread); the
    // complete request moves to the run thread, which alone uses it from then on.
    QuilletInput input_;
    bool runStarted_ = false;
    // Requested by onClose, awaited by the run thread while the wrapper runs.
    process::StopSignal stop_;
    // Started by the server thread, joined by onConnect (the application thread)
    // or by the destructor.
    std::mutex runMutex_;
    std::thread run_;
};

// The plug-in's one request state, for the exports.
QuilletPlugin& plugin();
// The plug-in's log folder; empty when there is none.
std::string pluginLogFolder();

}  // namespace quillet
