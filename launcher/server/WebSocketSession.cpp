#include "WebSocketSession.h"

#include "EmbeddedServer.h"
#include "OutgoingBytes.h"
#include "zelvo/log.h"

#include <boost/asio/post.hpp>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;

namespace {

// Bytes Beast may buffer per write; with auto-fragmentation off a message is
// still one frame whatever its size.
constexpr std::size_t writeBufferBytes = 1 << 20;
// A read buffer that grew for a large message is given back afterwards.
constexpr std::size_t keptReadBuffer = 1 << 20;

// A page may stay silent for long (a signature, a PIN dialog): pings keep a live
// page connected, and a vanished one is noticed. `handshake` limits the opening
// handshake, then (once open) the closing one.
websocket::stream_base::timeout pageTimeouts(std::chrono::steady_clock::duration handshake) {
    auto timeouts = websocket::stream_base::timeout::suggested(beast::role_type::server);
    timeouts.keep_alive_pings = true;
    timeouts.handshake_timeout = handshake;
    return timeouts;
}

}  // namespace

template <class Stream>
WebSocketSession<Stream>::WebSocketSession(Stream&& stream, Request request, const ServerSettings& settings,
                                           SessionRegistry& sessions)
    : ws_(std::move(stream)), request_(std::move(request)), settings_(settings), sessions_(sessions) {}

template <class Stream>
void WebSocketSession<Stream>::run() {
    sessions_.track(this->weak_from_this());
    std::vector<std::string> names;
    std::vector<std::string> values;
    for (const auto& field : request_) {
        names.emplace_back(field.name_string());
        values.emplace_back(field.value());
    }
    switch (EmbeddedServer::doWebkSocketHandshakeRequest(names, values, this->shared_from_this())) {
        case Admission::admitted:
            return accept();
        case Admission::refused:
            return refuse();
        case Admission::pending:
            return watchWhilePending();  // the server holds the session until the user has answered
    }
}

template <class Stream>
void WebSocketSession<Stream>::watchWhilePending() {
    beast::get_lowest_layer(ws_).socket().async_wait(
        asio::ip::tcp::socket::wait_read,
        beast::bind_front_handler(&WebSocketSession::onPendingReadable, this->shared_from_this()));
}

template <class Stream>
void WebSocketSession<Stream>::onPendingReadable(beast::error_code ec) {
    if (phase_ != Phase::admission || closing_ || ec == asio::error::operation_aborted) return;
    // A client says nothing until it has its answer: readable means it left.
    LOG_INFO("WebSocketSession::onPendingReadable")
        << "La aplicación web dejó de esperar la respuesta a su petición de conexión";
    phase_ = Phase::ended;
    closeSocket();
    EmbeddedServer::doPendingClose(this);
}

template <class Stream>
void WebSocketSession<Stream>::stopWatching() {
    beast::error_code ignored;
    beast::get_lowest_layer(ws_).socket().cancel(ignored);
}

template <class Stream>
bool WebSocketSession<Stream>::stillWaiting() {
    if (phase_ != Phase::admission || closing_) return false;
    if (std::chrono::steady_clock::now() - asked_ > surelyWaiting) return false;
    // Looked at now: the watch's news may still be on its way through the loop.
    auto& socket = beast::get_lowest_layer(ws_).socket();
    beast::error_code ec;
    char byte = 0;
    socket.non_blocking(true, ec);
    if (!ec) socket.receive(asio::buffer(&byte, 1), asio::socket_base::message_peek, ec);
    beast::error_code ignored;
    socket.non_blocking(false, ignored);
    return ec == asio::error::would_block;
}

template <class Stream>
void WebSocketSession<Stream>::admissionDecided(bool admitted) {
    if (phase_ != Phase::admission) return;
    if (closing_) {
        // Closed while the user decided: an application started for it must end.
        if (admitted) EmbeddedServer::doWebSocketClose(this);
        return;
    }
    if (admitted) accept();
    else refuse();
}

template <class Stream>
void WebSocketSession<Stream>::accept() {
    stopWatching();
    admitted_ = true;
    phase_ = Phase::accepting;
    beast::get_lowest_layer(ws_).expires_never();
    ws_.set_option(pageTimeouts(settings_.httpTimeout));
    // The handshake's answer (and Beast's own refusals of a bad upgrade) carry
    // the headers of every answer.
    ws_.set_option(websocket::stream_base::decorator(
        [&settings = settings_](websocket::response_type& response) { setAnswerHeaders(response, settings); }));
    ws_.control_callback([this](websocket::frame_type kind, beast::string_view) {
        if (kind == websocket::frame_type::close) onPeerClose();
    });
    ws_.read_message_max(settings_.maxMessageSize);
    ws_.auto_fragment(false);
    ws_.write_buffer_bytes(writeBufferBytes);
    ws_.async_accept(request_, beast::bind_front_handler(&WebSocketSession::onAccept, this->shared_from_this()));
}

template <class Stream>
void WebSocketSession<Stream>::refuse() {
    stopWatching();
    phase_ = Phase::refusing;
    auto response = std::make_shared<http::response<http::empty_body>>(http::status::forbidden, request_.version());
    setAnswerHeaders(*response, settings_);
    response->set(http::field::connection, "forbidden");
    response->content_length(0);
    beast::get_lowest_layer(ws_).expires_after(settings_.httpTimeout);
    http::async_write(ws_.next_layer(), *response,
                      [self = this->shared_from_this(), response](beast::error_code ec, std::size_t) {
                          self->onRefused(ec);
                      });
}

template <class Stream>
void WebSocketSession<Stream>::onRefused(beast::error_code ec) {
    if (ec) return fail("WebSocketSession::onRefused", ec);
    phase_ = Phase::ended;
    closeAfterAnswer(ws_.next_layer(), this->shared_from_this());
}

template <class Stream>
void WebSocketSession<Stream>::onAccept(beast::error_code ec) {
    if (ec) {
        fail("WebSocketSession::onAccept", ec);
        return pageGone();
    }
    phase_ = Phase::open;
    LOG_VERBOSE("WebSocketSession::onAccept") << "Conexión websocket establecida";
    // From here the handshake limit is the closing handshake's: our close frame
    // sent, the connection ends within it whatever the page does.
    ws_.set_option(pageTimeouts(PageStream::closeLimit));
    doRead();
    if (!writing_ && !queue_.empty()) doWrite();
}

template <class Stream>
void WebSocketSession<Stream>::onPeerClose() {
    LOG_VERBOSE("WebSocketSession::onPeerClose") << "La aplicación web envió el cierre de la conexión websocket";
    // Beast answers the close frame and then waits for the page to close TCP:
    // the application hears of the close now, not when that wait ends.
    beast::get_lowest_layer(ws_).expires_after(PageStream::closeLimit);
    asio::post(ws_.get_executor(), [self = this->shared_from_this()] { self->pageGone(); });
}

template <class Stream>
void WebSocketSession<Stream>::doRead() {
    ws_.async_read(buffer_, beast::bind_front_handler(&WebSocketSession::onRead, this->shared_from_this()));
}

template <class Stream>
void WebSocketSession<Stream>::onRead(beast::error_code ec, std::size_t) {
    if (ec) {
        if (ec == websocket::error::message_too_big) {
            LOG_ERROR("WebSocketSession::onRead")
                << "El mensaje de la aplicación web supera el tamaño máximo de " << settings_.maxMessageSize
                << " bytes; se cierra la conexión con el código 1009";
        } else if (ec == websocket::error::closed) {
            LOG_VERBOSE("WebSocketSession::onRead") << "La aplicación web cerró la conexión websocket";
        } else if (!closing_) {
            fail("WebSocketSession::onRead", ec);
        }
        return pageGone();
    }
    auto data = buffer_.cdata();
    const char* bytes = data.size() ? static_cast<const char*>(data.data()) : "";
    EmbeddedServer::doWebsocketFrame(ws_.got_text() ? 0x81 : 0x82, bytes, data.size());
    buffer_.consume(buffer_.size());
    if (buffer_.capacity() > keptReadBuffer) buffer_.shrink_to_fit();
    // A page that sends without reading its answers is not read from until they
    // have gone out. Reading goes on while closing: the page's close frame ends
    // the handshake.
    if (!closing_ && outgoingFull()) {
        LOG_VERBOSE("WebSocketSession::onRead") << "Mensajes pendientes de envío; se deja de leer de la aplicación web";
        readPaused_ = true;
        return;
    }
    doRead();
}

template <class Stream>
bool WebSocketSession<Stream>::outgoingFull() const {
    return settings_.outgoing && settings_.outgoing->overLimit();
}

template <class Stream>
void WebSocketSession<Stream>::send(bool text, std::string bytes, OutgoingBytes::Ticket ticket) {
    if (phase_ == Phase::ended || closing_) return;
    queue_.push_back(Outgoing{text, false, std::move(bytes), std::move(ticket)});
    if (phase_ == Phase::open && !writing_) doWrite();
}

template <class Stream>
void WebSocketSession<Stream>::close() {
    if (closing_) return;
    closing_ = true;
    if (phase_ != Phase::accepting && phase_ != Phase::open) return;
    queue_.push_back(Outgoing{false, true, {}, {}});
    if (phase_ == Phase::open && !writing_) doWrite();
}

template <class Stream>
void WebSocketSession<Stream>::doWrite() {
    writing_ = true;
    Outgoing& next = queue_.front();
    if (next.close) {
        // An empty close payload: no status code, no reason.
        ws_.async_close(websocket::close_reason{},
                        beast::bind_front_handler(&WebSocketSession::onClose, this->shared_from_this()));
        return;
    }
    ws_.text(next.text);
    ws_.async_write(asio::buffer(next.bytes),
                    beast::bind_front_handler(&WebSocketSession::onWrite, this->shared_from_this()));
}

template <class Stream>
void WebSocketSession<Stream>::onWrite(beast::error_code ec, std::size_t) {
    writing_ = false;
    if (ec) {
        queue_.clear();
        fail("WebSocketSession::onWrite", ec);
        closeSocket();
        // The pending read fails next and reports the end; without one, say it here.
        if (readPaused_) pageGone();
        return;
    }
    queue_.pop_front();
    if (phase_ != Phase::open) return;
    if (!queue_.empty()) doWrite();
    if (readPaused_ && !outgoingFull()) {
        LOG_VERBOSE("WebSocketSession::onWrite") << "Se reanuda la lectura de la aplicación web";
        readPaused_ = false;
        doRead();
    }
}

template <class Stream>
void WebSocketSession<Stream>::onClose(beast::error_code ec) {
    writing_ = false;
    queue_.clear();
    if (ec && ec != asio::error::operation_aborted) {
        LOG_VERBOSE("WebSocketSession::onClose") << "Cierre de la conexión websocket: " << ec.message();
    }
}

template <class Stream>
void WebSocketSession<Stream>::fail(const char* where, beast::error_code ec) {
    if (failed_) return;
    failed_ = true;
    LOG_WARN(where) << "Se cierra la conexión websocket: " << ec.message();
}

template <class Stream>
void WebSocketSession<Stream>::closeSocket() {
    beast::error_code ignored;
    beast::get_lowest_layer(ws_).socket().close(ignored);
}

template <class Stream>
void WebSocketSession<Stream>::pageGone() {
    phase_ = Phase::ended;
    queue_.clear();
    if (!admitted_ || closing_ || reported_) return;
    reported_ = true;
    EmbeddedServer::doWebSocketClose(this);
}

template <class Stream>
void WebSocketSession<Stream>::stop() {
    switch (phase_) {
        case Phase::refusing:  // the 403 on its way may finish
        case Phase::ended:
            return;
        case Phase::accepting:
        case Phase::open:
            return close();
        case Phase::admission:
            return abort();
    }
}

template <class Stream>
void WebSocketSession<Stream>::abort() {
    closing_ = true;
    closeSocket();
}

template class WebSocketSession<PlainStream>;
template class WebSocketSession<TlsStream>;
