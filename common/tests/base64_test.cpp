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
    // A single leftover character gives nothing.
    for (auto [text, decoded] : {std::pair{"YWJj=ZZZZ", "abc"}, {"YWJj/", "abc"}, {"YWJjZA", "abcd"},
                                 {"YWJjZGU", "abcde"}, {"YW%4a", "a"}, {"", ""}})
        EXPECT_EQ(base64Decode(text), decoded) << text;
}
