#include "Session.h"

#include <algorithm>

void SessionRegistry::track(std::weak_ptr<Session> session) {
    live();
    sessions_.push_back(std::move(session));
}

std::size_t SessionRegistry::live() {
    sessions_.erase(std::remove_if(sessions_.begin(), sessions_.end(),
                                   [](const std::weak_ptr<Session>& s) { return s.expired(); }),
                    sessions_.end());
    return sessions_.size();
}

void SessionRegistry::stopAll() {
    // A session may end (and leave the list) while it is told to stop.
    auto copy = sessions_;
    for (auto& weak : copy)
        if (auto session = weak.lock()) session->stop();
}

std::shared_ptr<Session> SessionRegistry::idlest() {
    std::shared_ptr<Session> found;
    std::chrono::steady_clock::time_point oldest;
    for (auto& weak : sessions_) {
        auto session = weak.lock();
        auto since = session ? session->idleSince() : std::nullopt;
        if (since && (!found || *since < oldest)) {
            found = session;
            oldest = *since;
        }
    }
    return found;
}

void SessionRegistry::abortAll() {
    auto copy = sessions_;
    for (auto& weak : copy)
        if (auto session = weak.lock()) session->abort();
}
