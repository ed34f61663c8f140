// The echo benchmark's client: a synchronous Boost.Beast WebSocket client on
// loopback, fast enough not to cap what it measures. Prints "name value" lines
// for echo_benchmark.py.
//   echo_client first PORT T0_NS   waits for the server to listen, echoes one text
//                                  and prints the time from T0 (CLOCK_MONOTONIC
//                                  nanoseconds, taken as the server was started)
//   echo_client measure PORT PID   round trip of a 100-byte text and throughput of
//                                  1 MiB binary messages (medians), then the peak
//                                  memory of process PID once it echoed 50 MiB
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using WebSocket = websocket::stream<tcp::socket>;

namespace {

constexpr int textRounds = 1000;
constexpr int binaryRounds = 200;
constexpr std::size_t mib = 1 << 20;
constexpr std::size_t bigMessage = 50 * mib;

// Retries while nothing listens on the port yet, for 20 s at most.
void connect(WebSocket& ws, unsigned short port) {
    const tcp::endpoint endpoint(asio::ip::address_v4::loopback(), port);
    const auto end = Clock::now() + std::chrono::seconds(20);
    for (beast::error_code ec;;) {
        ws.next_layer().connect(endpoint, ec);
        if (!ec) break;
        ws.next_layer().close(ec);
        if (Clock::now() > end) throw std::runtime_error("nadie escucha en el puerto " + std::to_string(port));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ws.next_layer().set_option(tcp::no_delay(true));
    // The launcher admits pages of its own origin without asking the user.
    ws.set_option(websocket::stream_base::decorator([port](websocket::request_type& request) {
        request.set(http::field::origin, "http://localhost:" + std::to_string(port));
    }));
    ws.read_message_max(2 * bigMessage);
    ws.auto_fragment(false);
    ws.write_buffer_bytes(mib);  // masked writes go out in chunks of this size
    ws.handshake("127.0.0.1:" + std::to_string(port), "/");
}

// Sends one message and reads its echo into `answer`.
void echo(WebSocket& ws, bool text, asio::const_buffer message, beast::flat_buffer& answer) {
    ws.text(text);
    ws.write(message);
    answer.clear();
    ws.read(answer);
    if (answer.size() != message.size() || ws.got_text() != text) throw std::runtime_error("eco distinto del mensaje");
}

double peakMemoryMib(const std::string& pid) {
    std::ifstream status("/proc/" + pid + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024;
    throw std::runtime_error("no se puede leer la memoria del proceso " + pid);
}

// Median of `rounds` round trips of `message`, in ms: the median keeps a busy
// machine's stalls out of the figure.
double medianRoundTrip(WebSocket& ws, bool text, asio::const_buffer message, int rounds) {
    beast::flat_buffer answer;
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        echo(ws, text, message, answer);
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::nth_element(times.begin(), times.begin() + rounds / 2, times.end());
    return times[rounds / 2];
}

void measure(WebSocket& ws, const std::string& pid) {
    const std::string text(100, 'x');
    std::printf("latency_us %.2f\n", 1000 * medianRoundTrip(ws, true, asio::buffer(text), textRounds));
    std::string block(bigMessage, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7919 >> 3);
    const double blockMs = medianRoundTrip(ws, false, asio::buffer(block.data(), mib), binaryRounds);
    std::printf("throughput_mib_s %.1f\n", 1000 / blockMs);

    beast::flat_buffer answer;
    const double before = peakMemoryMib(pid);
    echo(ws, false, asio::buffer(block), answer);
    if (beast::buffers_to_string(answer.data()) != block) throw std::runtime_error("eco distinto del mensaje");
    std::printf("peak_mib %.1f\n", std::max(before, peakMemoryMib(pid)));
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc == 4 ? argv[1] : "";
    if (mode != "first" && mode != "measure") {
        std::cerr << "uso: echo_client first PUERTO T0_NS | echo_client measure PUERTO PID\n";
        return 2;
    }
    try {
        asio::io_context ioc;
        WebSocket ws(ioc);
        connect(ws, static_cast<unsigned short>(std::atoi(argv[2])));
        if (mode == "first") {
            beast::flat_buffer answer;
            echo(ws, true, asio::buffer(std::string_view("hola")), answer);
            const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch());
            std::printf("first_ms %.2f\n", static_cast<double>(now.count() - std::stoll(argv[3])) / 1e6);
        } else {
            measure(ws, argv[3]);
        }
        beast::error_code ignored;
        ws.close(websocket::close_code::normal, ignored);
    } catch (const std::exception& error) {
        std::cerr << "echo_client: " << error.what() << "\n";
        return 1;
    }
}
