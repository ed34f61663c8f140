// The server's pure rules: which ports it may use and which upgrade requests
// come from a page.
#include "server/EmbeddedServer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(ServerPortRule, TheValidRangeAndItsEdges) {
    for (int port : {80, 443, 1024, 8443, 65534}) EXPECT_TRUE(EmbeddedServerHelper::isValidPort(port)) << port;
    for (int port : {-1, 0, 79, 81, 442, 444, 1023, 65535, 65536, 70000})
        EXPECT_FALSE(EmbeddedServerHelper::isValidPort(port)) << port;
}

TEST(ServerOriginRule, AHeaderNameThatBeginsOriginInAnyCase) {
    using Names = std::vector<std::string>;
    EXPECT_TRUE(EmbeddedServer::isWebConnection(Names{"Host", "Origin"}));
    EXPECT_TRUE(EmbeddedServer::isWebConnection(Names{"ORIGIN"}));
    EXPECT_TRUE(EmbeddedServer::isWebConnection(Names{"oRiGiN"}));
    EXPECT_TRUE(EmbeddedServer::isWebConnection(Names{"Ori"}));
    EXPECT_TRUE(EmbeddedServer::isWebConnection(Names{"o"}));
    EXPECT_FALSE(EmbeddedServer::isWebConnection(Names{"Origins", "Originator", "Host"}));
    EXPECT_FALSE(EmbeddedServer::isWebConnection(Names{"rigin", "Orig1n"}));
    EXPECT_FALSE(EmbeddedServer::isWebConnection(Names{}));
    // The walk stops at the first empty name and after forty names.
    EXPECT_FALSE(EmbeddedServer::isWebConnection(Names{"Host", "", "Origin"}));
    Names many(40, "X-Relleno");
    many.push_back("Origin");
    EXPECT_FALSE(EmbeddedServer::isWebConnection(many));
    many.erase(many.begin());
    EXPECT_TRUE(EmbeddedServer::isWebConnection(many));
}
