#include "zelvo/stop_signals.h"

#include <csignal>

namespace zelvo {

struct StopHandlerKept::Saved {
    struct sigaction interrupt {};
    struct sigaction terminate {};
};

void installStopHandler(StopHandler handler) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

StopHandlerKept::StopHandlerKept() : saved_(new Saved) {
    sigaction(SIGINT, nullptr, &saved_->interrupt);
    sigaction(SIGTERM, nullptr, &saved_->terminate);
}

StopHandlerKept::~StopHandlerKept() {
    sigaction(SIGINT, &saved_->interrupt, nullptr);
    sigaction(SIGTERM, &saved_->terminate, nullptr);
    delete saved_;
}

}  // namespace zelvo
