#pragma once
// The TCP stream of a page's connection. Its one difference from Beast's
// tcp_stream: the WebSocket closing handshake ends within closeLimit. Beast
// ends a connection by waiting for the peer to close TCP (or for TLS's
// close_notify) without a limit of its own once the close frames have been
// exchanged, whether the page sent its close frame first or we sent ours (also
// after a protocol error); a peer that keeps TCP open would keep the launcher
// and its application alive. Beast finds these teardowns by argument-dependent
// lookup, in preference to its own.
#include <boost/asio/compose.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/core/role.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>

#include <array>
#include <chrono>
#include <memory>

class PageStream : public boost::beast::tcp_stream {
public:
    using boost::beast::tcp_stream::basic_stream;

    // From the close frame sent or received to the closed connection.
    static constexpr std::chrono::seconds closeLimit{2};
};

namespace page_stream_detail {

// A server shuts its sending side, then reads until the peer closes or the
// limit closes the socket; the socket is closed at the end either way.
struct BoundedTeardown {
    PageStream& stream;
    boost::beast::role_type role;
    std::unique_ptr<std::array<char, 512>> buffer = std::make_unique<std::array<char, 512>>();
    bool started = false;

    template <class Self>
    void operator()(Self& self, boost::beast::error_code ec = {}, std::size_t = 0) {
        if (!started) {
            started = true;
            stream.expires_after(PageStream::closeLimit);
            boost::beast::error_code ignored;
            if (role == boost::beast::role_type::server)
                stream.socket().shutdown(boost::asio::ip::tcp::socket::shutdown_send, ignored);
        } else if (ec) {
            boost::beast::error_code ignored;
            stream.socket().close(ignored);
            // The peer's end of the stream is the expected end.
            self.complete(ec == boost::asio::error::eof ? boost::beast::error_code{} : ec);
            return;
        }
        stream.async_read_some(boost::asio::buffer(*buffer), std::move(self));
    }
};

}  // namespace page_stream_detail

template <class Handler>
auto async_teardown(boost::beast::role_type role, PageStream& stream, Handler&& handler) {
    return boost::asio::async_compose<Handler, void(boost::beast::error_code)>(
        page_stream_detail::BoundedTeardown{stream, role}, handler, stream);
}

template <class Handler>
void async_teardown(boost::beast::role_type, boost::beast::ssl_stream<PageStream>& stream, Handler&& handler) {
    // The TLS shutdown reads the peer's close_notify through the TCP stream, which
    // honours the limit.
    stream.next_layer().expires_after(PageStream::closeLimit);
    stream.async_shutdown(std::forward<Handler>(handler));
}
