#pragma once
// The bytes of the application's messages that wait to go out to the page:
// counted from the moment a sender hands a message over until it has been
// written (or dropped). While more than the limit wait, a sender on a thread of
// the application waits for room, and the page's connection stops reading, so
// neither a fast application nor a page that never reads makes the launcher's
// memory grow.
//
// Shared by the server thread (which counts without waiting and counts down when
// a message has gone) and the application's threads (which wait for room); its
// own mutex guards the count.
#include <condition_variable>
#include <cstddef>
#include <mutex>

class OutgoingBytes {
public:
    // Counts its bytes until it goes: written, dropped, or never delivered.
    class Ticket {
    public:
        Ticket() = default;
        Ticket(Ticket&& other) noexcept;
        Ticket& operator=(Ticket&& other) noexcept;
        ~Ticket();

    private:
        friend class OutgoingBytes;
        Ticket(OutgoingBytes* owner, std::size_t bytes) : owner_(owner), bytes_(bytes) {}
        void release();
        OutgoingBytes* owner_ = nullptr;
        std::size_t bytes_ = 0;
    };

    // A new server run: nothing waits, senders are welcome.
    void open(std::size_t limit);
    // Server thread: counts `bytes` at once; never waits.
    Ticket take(std::size_t bytes);
    // Other threads: waits while more than the limit waits to go out, then
    // counts `bytes`. False, nothing counted, once closed.
    bool takeWhenRoom(std::size_t bytes, Ticket& ticket);
    // More than the limit waits to go out.
    bool overLimit() const;
    // The server stops: every wait ends now, and later ones do not begin.
    void close();

private:
    void release(std::size_t bytes);

    mutable std::mutex mutex_;
    std::condition_variable room_;
    std::size_t limit_ = 0;
    std::size_t pending_ = 0;
    bool closed_ = true;
};
