#include "log/AsyncLog.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <regex>

using quillet::log::AsyncLog;
using namespace testing_support;

namespace {

int64_t localMillis(int year, int month, int day, int hour) {
    struct tm t {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_isdst = -1;
    return static_cast<int64_t>(mktime(&t)) * 1000;
}

struct LogFixture : ::testing::Test {
    TempDir dir;
    AsyncLog log;
    void SetUp() override {
        log.setName(0, "quillet.plugin");
        log.setPath(0, dir.path() + "logs");
        log.setLevel(0, quillet::log::kInfo);
        log.setFileLine(0, false);
        log.setDisplay(0, false);
        log.setClock([] { return localMillis(2017, 5, 4, 12); });
    }
    std::string dayFile() { return readFile(dir.path() + "logs/quillet.plugin-2017-05-04.log"); }
};

TEST_F(LogFixture, KeepsLevelsFromTheLoggersUpInTheLineFormat) {
    ASSERT_TRUE(log.start());
    EXPECT_FALSE(log.start()) << "a second start is refused";
    for (int level = 0; level <= 6; ++level) log.push(0, level, "nivel " + std::to_string(level), "x.cpp", 1);
    log.stop();
    std::string text = dayFile();
    EXPECT_EQ(text.find("nivel 0"), std::string::npos);
    EXPECT_EQ(text.find("nivel 1"), std::string::npos);
    std::regex line(R"(2017-05-04 12:00:00 \d{6,} (INFO|WARN|ERROR|ALARM|FATAL) nivel \d\r\n)");
    int lines = 0;
    for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it) ++lines;
    EXPECT_EQ(lines, 5) << text;
    EXPECT_NE(text.find("ALARM nivel 5\r\n"), std::string::npos);
}

TEST_F(LogFixture, LinesOfTwoDaysGoToTwoFiles) {
    std::atomic<int> calls{0};
    log.setClock([&calls] { return calls++ == 0 ? localMillis(2017, 5, 4, 23) : localMillis(2017, 5, 5, 1); });
    ASSERT_TRUE(log.start());
    log.push(0, quillet::log::kInfo, "primero", "", 0);
    log.push(0, quillet::log::kInfo, "segundo", "", 0);
    log.stop();
    std::string first = dayFile();
    std::string second = readFile(dir.path() + "logs/quillet.plugin-2017-05-05.log");
    EXPECT_NE(first.find("primero"), std::string::npos);
    EXPECT_EQ(first.find("segundo"), std::string::npos);
    EXPECT_NE(second.find("segundo"), std::string::npos);
}

TEST_F(LogFixture, ALongLineIsCutAt2047WithItsLineEnding) {
    ASSERT_TRUE(log.start());
    log.push(0, quillet::log::kWarn, std::string(3000, 'x'), "", 0);
    log.push(0, quillet::log::kWarn, "corta", "", 0);
    log.stop();
    std::string text = dayFile();
    size_t end = text.find("\r\n");
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(end + 2, 2047u);
    EXPECT_EQ(text.substr(end - 3, 5), "xxx\r\n");
    EXPECT_NE(text.find("WARN corta\r\n", end), std::string::npos);
}

TEST_F(LogFixture, StopWritesEverythingQueuedAndLinesBeforeStartAreDropped) {
    log.push(0, quillet::log::kError, "antes del inicio", "", 0);
    ASSERT_TRUE(log.start());
    for (int i = 0; i < 2000; ++i) log.push(0, quillet::log::kInfo, "linea " + std::to_string(i), "", 0);
    log.stop();
    log.push(0, quillet::log::kError, "despues del fin", "", 0);
    std::string text = dayFile();
    EXPECT_EQ(countOf(text, "\r\n"), 2000);
    EXPECT_NE(text.find("linea 1999\r\n"), std::string::npos);
    EXPECT_EQ(text.find("antes"), std::string::npos);
    EXPECT_EQ(text.find("despues"), std::string::npos);
}

TEST_F(LogFixture, SettingsApplyInQueueOrderAndSurviveARestart) {
    ASSERT_TRUE(log.start());
    log.push(0, quillet::log::kInfo, "uno", "", 0);
    log.setName(0, "quillet.jni");
    log.setFileLine(0, true);
    log.push(0, quillet::log::kInfo, "dos", "/src/signing/Config.cpp", 42);
    log.stop();
    ASSERT_TRUE(log.start());
    log.push(0, quillet::log::kInfo, "tres", "Child.cpp", 7);
    log.stop();
    std::string plugin = dayFile();
    std::string jni = readFile(dir.path() + "logs/quillet.jni-2017-05-04.log");
    EXPECT_NE(plugin.find("INFO uno\r\n"), std::string::npos);
    EXPECT_EQ(plugin.find("dos"), std::string::npos);
    EXPECT_NE(jni.find("INFO dos (Config.cpp):42\r\n"), std::string::npos) << jni;
    EXPECT_NE(jni.find("INFO tres (Child.cpp):7\r\n"), std::string::npos) << jni;
}

TEST_F(LogFixture, AFolderThatCannotBeMadeLosesTheLinesQuietly) {
    writeFile(dir.path() + "file", "x");
    log.setPath(0, dir.path() + "file/logs");
    ASSERT_TRUE(log.start());
    log.push(0, quillet::log::kError, "perdida", "", 0);
    log.stop();
    EXPECT_EQ(listDir(dir.path()).size(), 1u);
}

}  // namespace
