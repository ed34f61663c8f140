#include "zelvo/base64.h"

#include <gtest/gtest.h>

using zelvo::base64Decode;
using zelvo::base64Encode;

TEST(Base64, RoundTripsEveryLength) {
    std::string bytes;
    for (int i = 0; i < 300; ++i) {
        EXPECT_EQ(base64Decode(base64Encode(bytes)), bytes);
        bytes.push_back(static_cast<char>(i * 7));
    }
    EXPECT_EQ(base64Encode("{\"a\":\"1\"}"), "eyJhIjoiMSJ9");
    EXPECT_EQ(base64Encode("ab"), "YWI=");
}

TEST(Base64, StopsAtPadOrForeignCharacter) {
    EXPECT_EQ(base64Decode("YWJj=ZZZZ"), "abc");
    EXPECT_EQ(base64Decode("YWJj/"), "abc") << "a single leftover character gives nothing";
    EXPECT_EQ(base64Decode("YWJjZA"), "abcd");
    EXPECT_EQ(base64Decode("YWJjZGU"), "abcde");
    EXPECT_EQ(base64Decode("YW%4a"), "a");
    EXPECT_EQ(base64Decode(""), "");
}
