#pragma once
// Accepts connections on the server's port and gives each one an HttpSession,
// over TLS when the server runs with TLS.
#include "Streams.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <memory>

class SessionRegistry;

class Listener : public std::enable_shared_from_this<Listener> {
public:
    Listener(boost::asio::io_context& ioc, const ServerSettings& settings, SessionRegistry& sessions);

    // Opens, binds and listens; false with the system's error.
    bool open(const boost::asio::ip::tcp::endpoint& endpoint, boost::beast::error_code& ec);
    // From now on every accepted connection starts with a TLS handshake.
    void useTls(boost::asio::ssl::context& tls) { tls_ = &tls; }
    void run();
    void stop();

private:
    void doAccept();
    void onAccept(boost::beast::error_code ec, boost::asio::ip::tcp::socket socket);
    void onRetry(boost::beast::error_code ec);
    // True when the peer is a program of this user, or on another computer;
    // another user of this computer could otherwise write any Origin and Host.
    static bool fromOwnUser(const boost::asio::ip::tcp::socket& socket);

    boost::asio::io_context& ioc_;
    boost::asio::ip::tcp::acceptor acceptor_;
    boost::asio::steady_timer retry_;
    const ServerSettings& settings_;
    SessionRegistry& sessions_;
    boost::asio::ssl::context* tls_ = nullptr;
    bool stopped_ = false;
};
