#include "zelvo/log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace {
std::string readAll(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}
}  // namespace

TEST(Log, LineFormatBomAndLevels) {
    auto path = (std::filesystem::temp_directory_path() / ("zelvo-log-" + std::to_string(::getpid()) + ".log")).string();
    std::filesystem::remove(path);
    zelvo::log::init(path, 4, false);
    LOG_INFO("EmbeddedServer::run") << "Iniciando la ejecución del servidor " << 42;
    LOG_WARN("JsonReader::read") << "aviso";
    LOG_DEBUG("X::y") << "not written at level 4";
    zelvo::log::shutdown();
    zelvo::log::init(path, 6, false);
    LOG_VERBOSE("A::b") << "verb";
    LOG_FATAL("A::c") << "fatal";
    zelvo::log::shutdown();

    std::string text = readAll(path);
    ASSERT_EQ(text.compare(0, 3, "\xEF\xBB\xBF"), 0);
    EXPECT_EQ(text.find("\xEF\xBB\xBF", 3), std::string::npos) << "the mark is written once, on a new file";
    std::istringstream lines(text.substr(3));
    std::string line;
    std::vector<std::string> all;
    while (std::getline(lines, line)) all.push_back(line);
    ASSERT_EQ(all.size(), 4u);
    std::regex re(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} (INFO |WARN |VERB |FATAL) \[\d+\] \[[A-Za-z:]+@\d+\] .*$)");
    for (const auto& l : all) EXPECT_TRUE(std::regex_match(l, re)) << l;
    EXPECT_NE(all[0].find(" INFO  ["), std::string::npos);
    EXPECT_NE(all[0].find("[EmbeddedServer::run@"), std::string::npos);
    EXPECT_NE(all[0].find("] Iniciando la ejecución del servidor 42"), std::string::npos);
    EXPECT_NE(all[1].find(" WARN  ["), std::string::npos);
    EXPECT_NE(all[2].find(" VERB  ["), std::string::npos);
    std::filesystem::remove(path);
}

TEST(Log, OutOfRangeLevelSwitchesLoggingOffAndBadFolderIsHarmless) {
    zelvo::log::init("/nonexistent-folder/x.log", 4, false);
    LOG_INFO("A::b") << "lost";
    zelvo::log::init("/tmp/unused.log", 7, false);
    EXPECT_FALSE(zelvo::log::enabled(zelvo::log::Severity::fatal));
    zelvo::log::init("/tmp/unused.log", -1, false);
    EXPECT_FALSE(zelvo::log::enabled(zelvo::log::Severity::fatal));
    zelvo::log::shutdown();
    std::filesystem::remove("/tmp/unused.log");
    EXPECT_EQ(zelvo::log::dayFileName().size(), 12u);
}
