// Which upgrade requests come from a page: a header name that begins "Origin" in
// any case. The usual names, and the port rule, are proved end to end; here the
// limits of the walk over the names.
#include "server/EmbeddedServer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(ServerOriginRule, TheWalkOverTheHeaderNamesAndItsLimits) {
    using Names = std::vector<std::string>;
    Names forty(40, "X-Relleno");
    forty.push_back("Origin");  // the walk stops after forty names
    Names thirtyNine(forty.begin() + 1, forty.end());
    const std::pair<Names, bool> rows[] = {
        {{"Host", "oRiGiN"}, true}, {{"rigin", "Orig1n"}, false}, {{}, false},
        {{"Host", "", "Origin"}, false},  // the walk stops at the first empty name
        {forty, false}, {thirtyNine, true},
    };
    for (const auto& [names, web] : rows) EXPECT_EQ(EmbeddedServer::isWebConnection(names), web) << names.size();
}
