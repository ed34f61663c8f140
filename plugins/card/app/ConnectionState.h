#pragma once
// The state of the one connection a loaded plug-in serves: onConnect opens it and
// waits until onClose (on the server thread) closes it. A close can come before
// onConnect has opened: the page may send its command the moment the handshake
// completes. Opening therefore never undoes a close.
#include <atomic>

class ConnectionState {
public:
    enum : int { idle = 0, open = 1, closed = 2 };

    // A new connection begins (the senders are being registered).
    void begin() { state_.store(idle); }
    // idle -> open; false when the connection was closed already.
    bool markOpen() {
        int expected = idle;
        return state_.compare_exchange_strong(expected, open) || expected == open;
    }
    void close() { state_.store(closed); }
    bool isOpen() const { return state_.load() == open; }
    int value() const { return state_.load(); }

private:
    std::atomic<int> state_{idle};
};
