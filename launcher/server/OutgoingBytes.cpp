#include "OutgoingBytes.h"

#include <utility>

OutgoingBytes::Ticket::Ticket(Ticket&& other) noexcept
    : owner_(std::exchange(other.owner_, nullptr)), bytes_(std::exchange(other.bytes_, 0)) {}

OutgoingBytes::Ticket& OutgoingBytes::Ticket::operator=(Ticket&& other) noexcept {
    if (this != &other) {
        release();
        owner_ = std::exchange(other.owner_, nullptr);
        bytes_ = std::exchange(other.bytes_, 0);
    }
    return *this;
}

OutgoingBytes::Ticket::~Ticket() { release(); }

void OutgoingBytes::Ticket::release() {
    if (owner_) owner_->release(bytes_);
    owner_ = nullptr;
    bytes_ = 0;
}

void OutgoingBytes::open(std::size_t limit) {
    std::lock_guard<std::mutex> lock(mutex_);
    limit_ = limit;
    closed_ = false;
}

OutgoingBytes::Ticket OutgoingBytes::take(std::size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ += bytes;
    return Ticket(this, bytes);
}

bool OutgoingBytes::takeWhenRoom(std::size_t bytes, Ticket& ticket) {
    std::unique_lock<std::mutex> lock(mutex_);
    room_.wait(lock, [this] { return closed_ || pending_ <= limit_; });
    if (closed_) return false;
    pending_ += bytes;
    lock.unlock();  // the ticket given back may hold bytes of its own
    ticket = Ticket(this, bytes);
    return true;
}

bool OutgoingBytes::overLimit() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_ > limit_;
}

void OutgoingBytes::close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    room_.notify_all();
}

void OutgoingBytes::release(std::size_t bytes) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_ -= bytes;
    }
    room_.notify_all();
}
