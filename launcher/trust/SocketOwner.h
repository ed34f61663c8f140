#pragma once
// Who made the other end of a TCP connection on this computer. The kernel's
// socket tables (/proc/net/tcp and /proc/net/tcp6) list every socket of this
// network namespace with its address, its peer's address and its owner's uid.
#include <boost/asio/ip/tcp.hpp>

#include <istream>
#include <optional>

class SocketOwner {
public:
    using Endpoint = boost::asio::ip::tcp::endpoint;

    // The uid of the socket whose own address is `peer` and whose peer is `local`,
    // from the text of one table (IPv4 or IPv6, as the endpoints are); none when
    // no such line is there.
    static std::optional<unsigned> find(std::istream& table, const Endpoint& peer, const Endpoint& local);
    // The same from the system's tables; an IPv4-mapped peer is looked for in both.
    static std::optional<unsigned> lookup(const Endpoint& peer, const Endpoint& local);
};
