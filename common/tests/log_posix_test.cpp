// The record format, the byte-order mark and the level filter are proved end to
// end on the launcher's log.
#include "zelvo/log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;

TEST(Log, AFileThatCannotBeOpenedLosesItsRecordsAndOutOfRangeLevelsSwitchLoggingOff) {
    std::string pattern = (fs::temp_directory_path() / "zelvo-log-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern;
    // Below a regular file no folder can be made, not even by root.
    std::ofstream(dir / "file") << "x";
    zelvo::log::init((dir / "file" / "x.log").string(), 4, false);
    EXPECT_TRUE(zelvo::log::enabled(zelvo::log::Severity::info));
    LOG_INFO("A::b") << "lost";
    for (int level : {7, -1}) {
        zelvo::log::init((dir / "off.log").string(), level, false);
        EXPECT_FALSE(zelvo::log::enabled(zelvo::log::Severity::fatal)) << level;
    }
    zelvo::log::shutdown();
    std::stringstream kept;
    kept << std::ifstream(dir / "file").rdbuf();
    EXPECT_EQ(kept.str(), "x");
    EXPECT_TRUE(std::regex_match(zelvo::log::dayFileName(), std::regex(R"(20\d{6}\.log)")));
    fs::remove_all(dir);
}
