#pragma once
// The two transports of a connection: plain TCP, or TLS over it when the server
// runs with TLS (then every connection is TLS).
#include "DocumentRoot.h"
#include "PageStream.h"
#include "trust/HostRule.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http/field.hpp>
#include <boost/beast/ssl.hpp>

#include <array>
#include <chrono>
#include <memory>
#include <cstddef>
#include <string>
#include <type_traits>

using PlainStream = PageStream;
using TlsStream = boost::beast::ssl_stream<PageStream>;

class OutgoingBytes;

template <class Stream>
inline constexpr bool isTlsStream = std::is_same_v<Stream, TlsStream>;

// What every session needs to know; owned by the server run, outlives the sessions.
struct ServerSettings {
    DocumentRoot documentRoot;
    std::size_t maxMessageSize = 0;     // largest WebSocket message accepted
    // A request (or upgrade) must arrive whole within this time of the accept.
    std::chrono::seconds httpTimeout{10};
    // Connections open at once; at the limit the idlest one makes room.
    std::size_t maxSessions = 64;
    // The application's bytes on their way to the page; the page's connection
    // stops reading while too many wait.
    const OutgoingBytes* outgoing = nullptr;
    HostRule hosts;                     // the names a request may give in its Host header
    std::string contentSecurityPolicy;  // of every answer

    // What the served pages do, and nothing more: their own scripts, styles and
    // images (photos arrive as data: URLs), and a WebSocket to this server.
    static std::string pagePolicy(int port) {
        const std::string p = std::to_string(port);
        return "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; connect-src 'self' "
               "ws://localhost:" + p + " wss://localhost:" + p + " ws://127.0.0.1:" + p + " wss://127.0.0.1:" + p +
               "; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
    }
};

// Headers of every HTTP answer (files, errors, refusals, redirects, the
// handshake): no type guessing, no caching, the page policy, and no other site
// may frame the answer or keep a handle on the window that shows it.
template <class Response>
void setAnswerHeaders(Response& response, const ServerSettings& settings) {
    response.set(boost::beast::http::field::server, "Zelvo");
    response.set("X-Content-Type-Options", "nosniff");
    response.set(boost::beast::http::field::cache_control, "no-store");
    response.set("Content-Security-Policy", settings.contentSecurityPolicy.empty()
                                                ? std::string("frame-ancestors 'none'")
                                                : settings.contentSecurityPolicy);
    response.set("X-Frame-Options", "DENY");
    response.set("Cross-Origin-Opener-Policy", "same-origin");
}

// Reads and drops what the client still sends until it closes its side (or
// the stream's time limit passes): a socket closed with data unread is reset,
// and a reset can take the answer with it before the client has read it.
template <class Keep>
void drainUntilClosed(boost::beast::tcp_stream& stream, std::shared_ptr<std::array<char, 512>> buffer, Keep keep) {
    stream.async_read_some(boost::asio::buffer(*buffer),
                           [&stream, buffer, keep](boost::beast::error_code ec, std::size_t) {
                               if (!ec) drainUntilClosed(stream, buffer, keep);
                           });
}

// After the last answer on a connection: TLS sends its close_notify, plain TCP
// shuts its sending side and waits for the client's close; both bounded. The
// socket closes when the session goes.
template <class Stream, class Keep>
void closeAfterAnswer(Stream& stream, Keep keep) {
    if constexpr (isTlsStream<Stream>) {
        boost::beast::get_lowest_layer(stream).expires_after(std::chrono::seconds(5));
        stream.async_shutdown([keep](boost::beast::error_code) {});
    } else {
        boost::beast::error_code ignored;
        stream.socket().shutdown(boost::asio::ip::tcp::socket::shutdown_send, ignored);
        stream.expires_after(std::chrono::seconds(2));
        drainUntilClosed(stream, std::make_shared<std::array<char, 512>>(), keep);
    }
}
