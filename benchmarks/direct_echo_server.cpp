// The yardstick for the bridge's echo benchmark: a WebSocket echo server on
// Boost.Beast with nothing in between, built as the launcher's server is (one
// io_context on one thread, asynchronous accept, read and write).
// Usage: direct_echo_server PORT (listens on 127.0.0.1; each message comes back
// as one frame of the same kind).
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include <cstdlib>
#include <iostream>
#include <memory>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

namespace {

class EchoSession : public std::enable_shared_from_this<EchoSession> {
public:
    explicit EchoSession(tcp::socket socket) : ws_(std::move(socket)) {}

    void run() {
        ws_.read_message_max(256u << 20);
        ws_.auto_fragment(false);
        ws_.async_accept([self = shared_from_this()](beast::error_code ec) {
            if (!ec) self->read();
        });
    }

private:
    void read() {
        ws_.async_read(buffer_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (!ec) self->write();
        });
    }

    void write() {
        ws_.text(ws_.got_text());
        ws_.async_write(buffer_.data(), [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec) return;
            self->buffer_.consume(self->buffer_.size());
            self->read();
        });
    }

    websocket::stream<tcp::socket> ws_;
    beast::flat_buffer buffer_;
};

void accept(tcp::acceptor& acceptor) {
    acceptor.async_accept([&acceptor](beast::error_code ec, tcp::socket socket) {
        if (ec) return;  // out of descriptors and the like: the benchmark sees the failure
        socket.set_option(tcp::no_delay(true), ec);
        std::make_shared<EchoSession>(std::move(socket))->run();
        accept(acceptor);
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "uso: direct_echo_server PUERTO\n";
        return 2;
    }
    try {
        asio::io_context ioc{1};
        tcp::acceptor acceptor(ioc, tcp::endpoint(asio::ip::address_v4::loopback(),
                                                  static_cast<unsigned short>(std::atoi(argv[1]))));
        accept(acceptor);
        ioc.run();
    } catch (const std::exception& error) {
        std::cerr << "direct_echo_server: " << error.what() << "\n";
        return 1;
    }
}
