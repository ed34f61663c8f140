#include "Listener.h"

#include "HttpSession.h"
#include "Session.h"
#include "zelvo/log.h"
#include "zelvo/socket_options.h"
#include "zelvo/socket_owner.h"


namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;

Listener::Listener(asio::io_context& ioc, const ServerSettings& settings, SessionRegistry& sessions)
    : ioc_(ioc), acceptor_(ioc), retry_(ioc), settings_(settings), sessions_(sessions) {}

bool Listener::open(const tcp::endpoint& endpoint, beast::error_code& ec) {
    acceptor_.open(endpoint.protocol(), ec);
    if (!ec) {
        zelvo::keepFromChildren(acceptor_.native_handle());
        if (!zelvo::prepareListeningSocket(acceptor_.native_handle()))
            ec = asio::error::invalid_argument;
    }
    if (!ec) acceptor_.bind(endpoint, ec);
    if (!ec) acceptor_.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        beast::error_code ignored;
        acceptor_.close(ignored);
        return false;
    }
    return true;
}

void Listener::run() { doAccept(); }

void Listener::stop() {
    stopped_ = true;
    beast::error_code ignored;
    acceptor_.close(ignored);
    retry_.cancel();
}

void Listener::doAccept() {
    if (stopped_) return;
    acceptor_.async_accept(ioc_, beast::bind_front_handler(&Listener::onAccept, shared_from_this()));
}

void Listener::onAccept(beast::error_code ec, tcp::socket socket) {
    if (stopped_) return;
    if (ec) {
        // Out of descriptors and the like: try again a little later instead of spinning.
        LOG_WARN("Listener::onAccept") << "No se pudo aceptar una conexión: " << ec.message();
        retry_.expires_after(std::chrono::milliseconds(100));
        retry_.async_wait(beast::bind_front_handler(&Listener::onRetry, shared_from_this()));
        return;
    }
    if (!fromOwnUser(socket)) {
        beast::error_code ignored;
        socket.close(ignored);
        doAccept();
        return;
    }
    if (sessions_.live() >= settings_.maxSessions) {
        // Idle and slow clients must not keep the page out: the one idle longest
        // makes room. Only when every connection is busy is the new one turned away.
        std::shared_ptr<Session> idlest = sessions_.idlest();
        if (!idlest) {
            LOG_WARN("Listener::onAccept") << "Demasiadas conexiones abiertas; se cierra la nueva conexión";
            beast::error_code ignored;
            socket.close(ignored);
            doAccept();
            return;
        }
        LOG_WARN("Listener::onAccept") << "Se alcanzó el máximo de " << settings_.maxSessions
                                       << " conexiones abiertas; se cierra la conexión inactiva más antigua";
        idlest->abort();
    }
    beast::error_code ignored;
    zelvo::keepFromChildren(socket.native_handle());
    socket.set_option(tcp::no_delay(true), ignored);
    if (tls_)
        std::make_shared<HttpSession<TlsStream>>(TlsStream(std::move(socket), *tls_), settings_, sessions_)->run();
    else
        std::make_shared<HttpSession<PlainStream>>(PlainStream(std::move(socket)), settings_, sessions_)->run();
    doAccept();
}

bool Listener::fromOwnUser(const tcp::socket& socket) {
    beast::error_code ec;
    const tcp::endpoint peer = socket.remote_endpoint(ec);
    const tcp::endpoint local = ec ? tcp::endpoint() : socket.local_endpoint(ec);
    if (ec) return false;  // already gone
    using zelvo::SocketOwner;
    const SocketOwner::Result owner = SocketOwner::lookup(peer, local);
    switch (owner.verdict) {
        case SocketOwner::Verdict::ownUser:
            return true;
        case SocketOwner::Verdict::otherUser:
            LOG_WARN("Listener::fromOwnUser") << "Se cierra una conexión de otro usuario del equipo (" << owner.owner
                                              << ")";
            return false;
        case SocketOwner::Verdict::unchecked: {
            static bool warned = false;  // server thread only
            if (!warned) {
                warned = true;
                LOG_WARN("Listener::fromOwnUser") << "El sistema no indica el propietario de las conexiones (Wine): "
                                                     "no se comprueba que sean del mismo usuario";
            }
            return true;
        }
        case SocketOwner::Verdict::notFound:
            break;
    }
    // Not in this computer's tables: a client on another computer, which only a
    // server bound to a non-loopback address can get.
    const auto address = peer.address();
    const bool here = address.is_loopback() || address == local.address() ||
                      (address.is_v6() && address.to_v6().is_v4_mapped() &&
                       boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, address.to_v6()).is_loopback());
    if (!here) return true;
    LOG_WARN("Listener::fromOwnUser") << "No se encuentra el usuario de una conexión local; se cierra";
    return false;
}

void Listener::onRetry(beast::error_code ec) {
    if (!ec) doAccept();
}
