#include "core/Startup.h"
#include "zelvo/paths.h"

#include <gtest/gtest.h>

namespace {
int level(const std::string& json) { return Startup::logLevel(*JsonReader::getInstance(json)); }
std::string dir(const std::string& json) { return Startup::logDirectory(*JsonReader::getInstance(json)); }
}  // namespace

TEST(Startup, LogLevel) {
    EXPECT_EQ(level("{}"), 4);
    EXPECT_EQ(level(R"({"log":{"level":6}})"), 4) << "a JSON number is unreadable";
    EXPECT_EQ(level(R"({"log":{"level":"x"}})"), 4);
    EXPECT_EQ(level(R"({"log":{"level":"0"}})"), 0);
    EXPECT_EQ(level(R"({"log":{"level":"6"}})"), 6);
    EXPECT_EQ(level(R"({"log":{"level":"7"}})"), 0);
    EXPECT_EQ(level(R"({"log":{"level":"-1"}})"), 0);
}

TEST(Startup, LogDirectory) {
    EXPECT_EQ(dir(R"({"log":{"directory":"/var/x"}})"), "/var/x/");
    EXPECT_EQ(dir(R"({"log":{"directory":"/var/x/"}})"), "/var/x/");
    EXPECT_EQ(dir(R"({"log":{"directory":"C:\\logs\\"}})"), "C:\\logs\\");
    // The test program's own folder is writable: it is the default.
    EXPECT_EQ(dir(R"({"log":{"directory":""}})"), zelvo::programDir());
    EXPECT_EQ(dir("{}"), zelvo::programDir());
}
