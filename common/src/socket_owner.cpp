#include "zelvo/socket_owner.h"

namespace zelvo {
namespace {

using Address = boost::asio::ip::address;

// An IPv4-mapped IPv6 address as the IPv4 address it stands for.
Address plain(const Address& a) {
    if (a.is_v6() && a.to_v6().is_v4_mapped())
        return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, a.to_v6());
    return a;
}

bool same(const SocketOwner::Endpoint& a, const SocketOwner::Endpoint& b) {
    return a.port() == b.port() && plain(a.address()) == plain(b.address());
}

}  // namespace

std::optional<unsigned long> SocketOwner::ownerPid(const std::vector<TcpRow>& rows, const Endpoint& peer,
                                                   const Endpoint& local) {
    for (const TcpRow& row : rows) {
        if (same(row.local, peer) && same(row.remote, local)) return row.pid;
    }
    return std::nullopt;
}

}  // namespace zelvo
