// The yardstick for the bridge's benchmark: a minimal WebSocket echo server on
// Boost.Beast with nothing in between. Usage: direct_echo_server PORT
// (listens on 127.0.0.1; each message comes back as one frame of the same kind).
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include <cstdlib>
#include <iostream>
#include <thread>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

static void serve(tcp::socket socket) {
    try {
        socket.set_option(tcp::no_delay(true));
        websocket::stream<tcp::socket> ws(std::move(socket));
        ws.read_message_max(256u << 20);
        ws.auto_fragment(false);
        ws.accept();
        beast::flat_buffer buffer;
        for (;;) {
            ws.read(buffer);
            ws.text(ws.got_text());
            ws.write(buffer.data());
            buffer.consume(buffer.size());
        }
    } catch (const std::exception&) {
        // The client went away.
    }
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "uso: direct_echo_server PUERTO\n";
        return 2;
    }
    try {
        asio::io_context ioc;
        tcp::acceptor acceptor(ioc, tcp::endpoint(asio::ip::address_v4::loopback(),
                                                  static_cast<unsigned short>(std::atoi(argv[1]))));
        for (;;) std::thread(serve, acceptor.accept()).detach();
    } catch (const std::exception& error) {
        std::cerr << "direct_echo_server: " << error.what() << "\n";
        return 1;
    }
}
