// The Windows rule's decision on recorded rows of the TCP table (Wine reports no
// owners, so the rows a real Windows gives are written here).
#include "zelvo/socket_owner.h"

#include <gtest/gtest.h>

using boost::asio::ip::make_address;
using zelvo::SocketOwner;

TEST(SocketOwner, TheClientsSideOfTheConnectionNamesItsProcess) {
    using Endpoint = SocketOwner::Endpoint;
    const Endpoint server(make_address("127.0.0.1"), 8765), client(make_address("127.0.0.1"), 40000);
    const std::vector<SocketOwner::TcpRow> rows = {
        {server, Endpoint(make_address("0.0.0.0"), 0), 100},   // the listener
        {server, client, 100},                                  // the server's side
        {client, server, 2345},                                 // the client's side: its owner
        {Endpoint(make_address("::1"), 40001), Endpoint(make_address("::1"), 8765), 777},
    };
    EXPECT_EQ(SocketOwner::ownerPid(rows, client, server), 2345u);
    // A listener on "::" sees an IPv4 client as mapped: its row is the IPv4 one.
    EXPECT_EQ(SocketOwner::ownerPid(rows, Endpoint(make_address("::ffff:127.0.0.1"), 40000),
                                    Endpoint(make_address("::ffff:127.0.0.1"), 8765)),
              2345u);
    EXPECT_EQ(SocketOwner::ownerPid(rows, Endpoint(make_address("::1"), 40001), Endpoint(make_address("::1"), 8765)),
              777u);
    EXPECT_FALSE(SocketOwner::ownerPid(rows, Endpoint(make_address("127.0.0.1"), 40002), server));
    EXPECT_FALSE(SocketOwner::ownerPid({}, client, server));
}
