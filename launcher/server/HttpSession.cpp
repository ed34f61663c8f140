#include "HttpSession.h"

#include "WebSocketSession.h"
#include "zelvo/log.h"

#include <boost/beast/websocket/rfc6455.hpp>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

namespace {

constexpr std::size_t requestHeadLimit = 8 * 1024;
constexpr std::size_t requestBodyLimit = 8 * 1024;

// An upgrade that a WebSocket handshake can answer; anything else is plain HTTP.
template <class Request>
bool isWebSocketHandshake(const Request& request) {
    return beast::websocket::is_upgrade(request) && !request[http::field::sec_websocket_key].empty() &&
           request[http::field::sec_websocket_version] == "13";
}

}  // namespace

template <class Stream>
HttpSession<Stream>::HttpSession(Stream&& stream, const ServerSettings& settings, SessionRegistry& sessions)
    : stream_(std::move(stream)), settings_(settings), sessions_(sessions) {}

template <class Stream>
void HttpSession<Stream>::run() {
    sessions_.track(this->weak_from_this());
    // One limit from the accept to the whole request, TLS handshake included.
    beast::get_lowest_layer(stream_).expires_after(settings_.httpTimeout);
    if constexpr (isTlsStream<Stream>) {
        stream_.async_handshake(asio::ssl::stream_base::server,
                                beast::bind_front_handler(&HttpSession::onHandshake, this->shared_from_this()));
    } else {
        doRead();
    }
}

template <class Stream>
void HttpSession<Stream>::onHandshake(beast::error_code ec) {
    if (ec) return fail("HttpSession::onHandshake", ec);
    doRead();
}

template <class Stream>
void HttpSession<Stream>::doRead() {
    phase_ = Phase::reading;
    parser_.emplace();
    parser_->header_limit(requestHeadLimit);
    parser_->body_limit(requestBodyLimit);
    http::async_read(stream_, buffer_, *parser_,
                     beast::bind_front_handler(&HttpSession::onRead, this->shared_from_this()));
}

template <class Stream>
void HttpSession<Stream>::onRead(beast::error_code ec, std::size_t) {
    if (ec == http::error::end_of_stream) {
        // A client (a browser's spare connection) left without asking anything.
        phase_ = Phase::done;
        return;
    }
    if (ec) return fail("HttpSession::onRead", ec);

    Request& request = parser_->get();
    // With two Host or two Origin headers one check could read one and a browser
    // or proxy the other: such a request is answered by neither.
    if (request.count(http::field::host) > 1 || request.count(http::field::origin) > 1) {
        LOG_WARN("HttpSession::onRead") << "Se rechaza una petición con más de una cabecera Host u Origin";
        return answerStatus(request, http::status::bad_request, "Petición no válida");
    }
    const auto host = request[http::field::host];
    if (!settings_.hosts.admits(std::string_view(host.data(), host.size()))) {
        LOG_WARN("HttpSession::onRead") << "Se rechaza una petición dirigida a \"" << host
                                        << "\": solo se atienden localhost, 127.0.0.1, [::1] y la dirección configurada";
        return forbid(request);
    }
    if (isWebSocketHandshake(request)) {
        phase_ = Phase::done;
        handedOver_ = true;
        beast::get_lowest_layer(stream_).expires_never();
        std::make_shared<WebSocketSession<Stream>>(std::move(stream_), parser_->release(), settings_, sessions_)
            ->run();
        return;
    }
    answer(request);
}

template <class Stream>
void HttpSession<Stream>::answer(const Request& request) {
    LOG_VERBOSE("HttpSession::answer") << "Petición HTTP " << request.method_string() << " " << request.target();
    if (request.method() != http::verb::get && request.method() != http::verb::head)
        return answerStatus(request, http::status::method_not_allowed, "Método no permitido");

    std::string path;
    std::uint64_t size = 0;
    const auto target = request.target();
    switch (settings_.documentRoot.find(std::string_view(target.data(), target.size()), path, size)) {
        case DocumentRoot::Lookup::badRequest:
            return answerStatus(request, http::status::bad_request, "Petición no válida");
        case DocumentRoot::Lookup::notFound:
            return answerStatus(request, http::status::not_found, "No encontrado");
        case DocumentRoot::Lookup::redirect: {
            http::response<http::empty_body> response{http::status::moved_permanently, request.version()};
            response.set(http::field::location, path);
            response.content_length(0);
            return respond(std::move(response));
        }
        case DocumentRoot::Lookup::file:
            break;
    }

    const char* type = DocumentRoot::mimeType(path);
    if (request.method() == http::verb::head) {
        http::response<http::empty_body> response{http::status::ok, request.version()};
        response.set(http::field::content_type, type);
        response.content_length(size);
        return respond(std::move(response));
    }
    http::file_body::value_type body;
    beast::error_code ec;
    body.open(path.c_str(), beast::file_mode::scan, ec);
    if (ec) return answerStatus(request, http::status::not_found, "No encontrado");
    http::response<http::file_body> response{std::piecewise_construct, std::make_tuple(std::move(body)),
                                             std::make_tuple(http::status::ok, request.version())};
    response.set(http::field::content_type, type);
    response.prepare_payload();
    respond(std::move(response));
}

template <class Stream>
void HttpSession<Stream>::answerStatus(const Request& request, http::status status, const char* text) {
    std::string body = std::string(text) + "\n";
    if (request.method() == http::verb::head) {
        // A HEAD answer describes the body without sending it.
        http::response<http::empty_body> response{status, request.version()};
        response.set(http::field::content_type, "text/plain; charset=utf-8");
        response.content_length(body.size());
        if (status == http::status::method_not_allowed) response.set(http::field::allow, "GET, HEAD");
        return respond(std::move(response));
    }
    http::response<http::string_body> response{status, request.version()};
    response.set(http::field::content_type, "text/plain; charset=utf-8");
    if (status == http::status::method_not_allowed) response.set(http::field::allow, "GET, HEAD");
    response.body() = std::move(body);
    response.prepare_payload();
    respond(std::move(response));
}

template <class Stream>
void HttpSession<Stream>::forbid(const Request& request) {
    http::response<http::empty_body> response{http::status::forbidden, request.version()};
    response.set(http::field::connection, "forbidden");
    response.content_length(0);
    respond(std::move(response));
}

template <class Stream>
template <class Body>
void HttpSession<Stream>::respond(http::response<Body>&& response) {
    setAnswerHeaders(response, settings_);
    // Every answer is the last on its connection; a refusal says so in its own words.
    if (response[http::field::connection].empty()) response.keep_alive(false);
    auto owned = std::make_shared<http::response<Body>>(std::move(response));
    response_ = owned;
    phase_ = Phase::answering;
    beast::get_lowest_layer(stream_).expires_after(settings_.httpTimeout);
    http::async_write(stream_, *owned, beast::bind_front_handler(&HttpSession::onWrite, this->shared_from_this()));
}

template <class Stream>
void HttpSession<Stream>::onWrite(beast::error_code ec, std::size_t) {
    response_.reset();
    if (ec) return fail("HttpSession::onWrite", ec);
    phase_ = Phase::done;
    closeAfterAnswer(stream_, this->shared_from_this());
}

template <class Stream>
void HttpSession<Stream>::fail(const char* where, beast::error_code ec) {
    if (!failed_) {
        failed_ = true;
        LOG_WARN(where) << "Se cierra la conexión HTTP: " << ec.message();
    }
    abort();
}

template <class Stream>
void HttpSession<Stream>::stop() {
    // An answer on its way may finish; a client that has not asked yet is done.
    if (phase_ == Phase::handshake || phase_ == Phase::reading) abort();
}

template <class Stream>
std::optional<std::chrono::steady_clock::time_point> HttpSession<Stream>::idleSince() const {
    // Until its request has arrived, a connection only waits for its client.
    if (handedOver_ || (phase_ != Phase::handshake && phase_ != Phase::reading)) return std::nullopt;
    return accepted_;
}

template <class Stream>
void HttpSession<Stream>::abort() {
    if (handedOver_) return;
    phase_ = Phase::done;
    beast::error_code ignored;
    beast::get_lowest_layer(stream_).socket().close(ignored);
}

template class HttpSession<PlainStream>;
template class HttpSession<TlsStream>;
