#pragma once
// Who made the other end of a TCP connection on this computer, so that another
// user of the same computer cannot reach the server with any Origin and Host.
//   Linux:   the kernel's socket tables (/proc/net/tcp, /proc/net/tcp6) list
//            every socket of this network namespace with its owner's uid.
//   Windows: the TCP table (GetExtendedTcpTable) gives the owning process, whose
//            token gives its user.
#include <boost/asio/ip/tcp.hpp>

#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace zelvo {

class SocketOwner {
public:
    using Endpoint = boost::asio::ip::tcp::endpoint;

    enum class Verdict {
        ownUser,    // a program of the user this process runs as
        otherUser,  // another user's program
        notFound,   // no such socket here: a client on another computer, or one already gone
        unchecked,  // the system cannot say (Wine reports no owners)
    };
    struct Result {
        Verdict verdict = Verdict::notFound;
        std::string owner;  // for the record: "uid 1000", "SID S-1-5-21-…"
    };

    // The owner of the socket whose own address is `peer` and whose peer is `local`
    // (the client's side of a connection this server accepted).
    static Result lookup(const Endpoint& peer, const Endpoint& local);

    // Linux: the uid in the text of one table (IPv4 or IPv6, as the endpoints
    // are); none when no such line is there.
    static std::optional<unsigned> find(std::istream& table, const Endpoint& peer, const Endpoint& local);

    // One row of Windows' TCP table.
    struct TcpRow {
        Endpoint local;
        Endpoint remote;
        unsigned long pid = 0;
    };
    // The owning process of the client's side among `rows`; none when no row
    // matches (an IPv4-mapped endpoint also matches its IPv4 row).
    static std::optional<unsigned long> ownerPid(const std::vector<TcpRow>& rows, const Endpoint& peer,
                                                 const Endpoint& local);
};

}  // namespace zelvo
