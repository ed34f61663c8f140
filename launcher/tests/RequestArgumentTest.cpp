#include "core/RequestArgument.h"
#include "zelvo/base64.h"

#include <gtest/gtest.h>

using namespace RequestArgument;

TEST(RequestArgument, VerbMustFollowTheFirstSeparator) {
    EXPECT_TRUE(matches("z://run/e30=", "run/"));
    EXPECT_TRUE(matches("zelvo://run/", "run/"));
    EXPECT_FALSE(matches("://run/e30=", "run/")) << "empty scheme";
    EXPECT_FALSE(matches("z:// run/e30=", "run/")) << "blank before the verb";
    EXPECT_FALSE(matches("z://Run/e30=", "run/"));
    EXPECT_FALSE(matches("z://runx/e30=", "run/"));
    EXPECT_FALSE(matches("z:/run/e30=", "run/"));
    EXPECT_FALSE(matches("z://test/://run/", "run/")) << "only the first separator counts";
    EXPECT_TRUE(matches("a b c://check/", "check/")) << "the scheme is not checked";
    EXPECT_FALSE(matches("", "run/"));
}

TEST(RequestArgument, PayloadLosesOneTrailingSlash) {
    EXPECT_EQ(payload("z://run/abc/", "run/"), "abc");
    EXPECT_EQ(payload("z://run/abc", "run/"), "abc");
    EXPECT_EQ(payload("z://run/abc//", "run/"), "abc/");
    EXPECT_EQ(payload("z://run/", "run/"), "");
    EXPECT_EQ(payload("z://run", "run/"), "run");
    EXPECT_EQ(payload("no separator", "run/"), "");
    EXPECT_EQ(payload("z://run/a%2Fb", "run/"), "a%2Fb") << "nothing is unescaped";
}

TEST(RequestArgument, DecodingStopsAtPadOrForeignCharacter) {
    std::string json = R"({"type":"windows","name":"echo"})";
    std::string b64 = zelvo::base64Encode(json);
    EXPECT_EQ(decodedPayload("z://run/" + b64 + "/", "run/"), json);
    EXPECT_EQ(decodedPayload("z://run/e30=garbage", "run/"), "{}");
    EXPECT_EQ(decodedPayload("z://run/e30=", "run/"), "{}");
    EXPECT_EQ(decodedPayload("z://run/e30%3D", "run/"), "{}") << "'%' ends the data";
    EXPECT_EQ(decodedPayload("z://run/e30.e30", "run/"), "{}");
    EXPECT_EQ(decodedPayload("z://check/", "check/"), "");
}
