#pragma once
// The connection after an upgrade request: admission (the server may refuse it
// with 403), the handshake answer, then whole messages both ways. Every message
// the application sends goes out as exactly one frame, in the order queued,
// and only after the handshake answer.
#include "Session.h"
#include "Streams.h"

#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <deque>
#include <memory>
#include <string>

template <class Stream>
class WebSocketSession : public WebSocketConnection, public std::enable_shared_from_this<WebSocketSession<Stream>> {
public:
    using Request = boost::beast::http::request<boost::beast::http::string_body>;

    WebSocketSession(Stream&& stream, Request request, const ServerSettings& settings, SessionRegistry& sessions);

    void run();
    void admissionDecided(bool admitted) override;
    bool stillWaiting() override;
    void send(bool text, std::string bytes, OutgoingBytes::Ticket ticket) override;
    void close() override;
    void stop() override;
    void abort() override;

private:
    enum class Phase { admission, refusing, accepting, open, ended };
    struct Outgoing {
        bool text = false;
        bool close = false;
        std::string bytes;
        OutgoingBytes::Ticket ticket;  // counts the bytes until the entry goes
    };

    // While the user is asked: a page that leaves (or sends before it has its
    // answer) is noticed at once, and the window stays open for its site.
    void watchWhilePending();
    void onPendingReadable(boost::beast::error_code ec);
    void stopWatching();
    // The page's close frame, seen before the read that carries it ends.
    void onPeerClose();
    void accept();
    void refuse();
    void onRefused(boost::beast::error_code ec);
    void onAccept(boost::beast::error_code ec);
    void doRead();
    void onRead(boost::beast::error_code ec, std::size_t bytes);
    void doWrite();
    void onWrite(boost::beast::error_code ec, std::size_t bytes);
    void onClose(boost::beast::error_code ec);
    void fail(const char* where, boost::beast::error_code ec);
    void closeSocket();
    // The page's side ended without the server asking: tell the server once.
    void pageGone();
    // Too many of the application's bytes wait to go out to the page.
    bool outgoingFull() const;

    boost::beast::websocket::stream<Stream> ws_;
    Request request_;
    boost::beast::flat_buffer buffer_;
    std::deque<Outgoing> queue_;
    const ServerSettings& settings_;
    SessionRegistry& sessions_;
    Phase phase_ = Phase::admission;
    bool admitted_ = false;  // this is (or was) the server's active connection
    bool writing_ = false;
    bool closing_ = false;   // the server ends the connection; nothing more is sent
    bool failed_ = false;
    bool reported_ = false;
    bool readPaused_ = false;  // no read pending until the page has taken its answers
    const std::chrono::steady_clock::time_point asked_ = std::chrono::steady_clock::now();  // the upgrade request
};
