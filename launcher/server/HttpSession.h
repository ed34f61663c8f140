#pragma once
// One connection before any WebSocket: reads one request (head at most 8 KiB,
// within the HTTP time-out), answers it from the document root and closes; an
// upgrade request is handed to a WebSocketSession with the connection.
#include "Session.h"
#include "Streams.h"

#include <boost/beast/http.hpp>

#include <memory>
#include <optional>

template <class Stream>
class HttpSession : public Session, public std::enable_shared_from_this<HttpSession<Stream>> {
public:
    HttpSession(Stream&& stream, const ServerSettings& settings, SessionRegistry& sessions);

    void run();
    void stop() override;
    void abort() override;
    std::optional<std::chrono::steady_clock::time_point> idleSince() const override;

private:
    using Request = boost::beast::http::request<boost::beast::http::string_body>;
    enum class Phase { handshake, reading, answering, done };

    void onHandshake(boost::beast::error_code ec);
    void doRead();
    void onRead(boost::beast::error_code ec, std::size_t bytes);
    void answer(const Request& request);
    void answerStatus(const Request& request, boost::beast::http::status status, const char* text);
    // 403 with "Connection: forbidden" and no body.
    void forbid(const Request& request);
    template <class Body>
    void respond(boost::beast::http::response<Body>&& response);
    void onWrite(boost::beast::error_code ec, std::size_t bytes);
    void fail(const char* where, boost::beast::error_code ec);

    Stream stream_;
    boost::beast::flat_buffer buffer_;
    std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
    std::shared_ptr<void> response_;  // the answer being written
    const ServerSettings& settings_;
    SessionRegistry& sessions_;
    const std::chrono::steady_clock::time_point accepted_ = std::chrono::steady_clock::now();
    Phase phase_ = Phase::handshake;
    bool failed_ = false;
    bool handedOver_ = false;  // the connection went to a WebSocketSession
};
