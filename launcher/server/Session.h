#pragma once
// What the server keeps of every live connection, so that it can end them all
// when the loop stops. Everything here lives on the server thread.
#include "OutgoingBytes.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class Session {
public:
    virtual ~Session() = default;
    // Ends the session once what it is already sending has gone out.
    virtual void stop() = 0;
    // Closes the socket at once.
    virtual void abort() = 0;
    // Since when the session has been waiting for its client with nothing of its
    // own on the way; none for a session that must not be cut short.
    virtual std::optional<std::chrono::steady_clock::time_point> idleSince() const { return std::nullopt; }
};

// What the server says to an upgrade request: at once, or later (the user is
// being asked) through WebSocketConnection::admissionDecided.
enum class Admission { admitted, refused, pending };

// The admitted WebSocket as the server sees it.
class WebSocketConnection : public Session {
public:
    // The answer to a pending admission: the handshake, or the 403 refusal.
    virtual void admissionDecided(bool admitted) = 0;
    // True while the page of a pending admission surely still waits for the
    // answer: its connection is open (looked at now, on the socket itself), and
    // its browser has not had the time to give up on it, which Firefox does
    // after 20 s without closing the connection.
    virtual bool stillWaiting() = 0;
    static constexpr std::chrono::seconds surelyWaiting{10};
    // Queues one message; it goes out as one frame after the handshake answer
    // and after every message queued before it. Its bytes stay counted by the
    // ticket until they have been written or dropped.
    virtual void send(bool text, std::string bytes, OutgoingBytes::Ticket ticket) = 0;
    // Queues a close frame with an empty payload after the queued messages;
    // nothing is sent after it.
    virtual void close() = 0;
};

// Weak references to the live sessions; the sessions own themselves through
// their pending operations.
class SessionRegistry {
public:
    void track(std::weak_ptr<Session> session);
    std::size_t live();
    void stopAll();
    void abortAll();
    // The session idle longest, or none.
    std::shared_ptr<Session> idlest();

private:
    std::vector<std::weak_ptr<Session>> sessions_;
};
