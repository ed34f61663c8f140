#include "log/AsyncLog.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <regex>

using quillet::log::AsyncLog;
using namespace testing_support;

namespace {

int64_t localMillis(int day, int hour) {
    struct tm t {};
    t.tm_year = 2017 - 1900;
    t.tm_mon = 4;
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
        log.setClock([] { return localMillis(4, 12); });
    }
    std::string dayFile(const std::string& name = "quillet.plugin", int day = 4) {
        return readFile(dir.path() + "logs/" + name + "-2017-05-0" + std::to_string(day) + ".log");
    }
    bool has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }
};

TEST_F(LogFixture, KeepsLevelsFromTheLoggersUpInTheLineFormatAndCutsLongLines) {
    ASSERT_TRUE(log.start());
    EXPECT_FALSE(log.start()) << "a second start is refused";
    for (int level = 0; level <= 6; ++level) log.push(0, level, "nivel " + std::to_string(level), "x.cpp", 1);
    log.push(0, quillet::log::kWarn, std::string(3000, 'x'), "", 0);
    log.stop();
    std::string text = dayFile();
    std::regex line(R"(2017-05-04 12:00:00 \d{6,} (INFO|WARN|ERROR|ALARM|FATAL) nivel [2-6]\r\n)");
    EXPECT_EQ(std::distance(std::sregex_iterator(text.begin(), text.end(), line), std::sregex_iterator()), 5) << text;
    EXPECT_FALSE(has(text, "nivel 0") || has(text, "nivel 1"));
    EXPECT_TRUE(has(text, "ALARM nivel 5\r\n"));
    // A long line is cut at 2047 bytes with its line ending.
    size_t start = text.rfind("\r\n", text.size() - 3) + 2;
    EXPECT_EQ(text.size() - start, 2047u);
    EXPECT_EQ(text.substr(text.size() - 5), "xxx\r\n");
}

TEST_F(LogFixture, OutsideTextCannotBreakALine) {
    ASSERT_TRUE(log.start());
    log.push(0, quillet::log::kInfo, "Archivo C:\\firma\r\n2017-05-04 12:00:00 000001 INFO falso.pdf ñ", "", 0);
    log.stop();
    EXPECT_EQ(dayFile().substr(dayFile().find(" INFO ")),
              " INFO Archivo C:\\\\firma\\r\\n2017-05-04 12:00:00 000001 INFO falso.pdf ñ\r\n");
}

TEST_F(LogFixture, LinesOfTwoDaysGoToTwoFiles) {
    std::atomic<int> calls{0};
    log.setClock([&calls] { return calls++ == 0 ? localMillis(4, 23) : localMillis(5, 1); });
    ASSERT_TRUE(log.start());
    log.push(0, quillet::log::kInfo, "primero", "", 0);
    log.push(0, quillet::log::kInfo, "segundo", "", 0);
    log.stop();
    EXPECT_TRUE(has(dayFile(), "primero") && !has(dayFile(), "segundo"));
    EXPECT_TRUE(has(dayFile("quillet.plugin", 5), "segundo"));
}

TEST_F(LogFixture, StopWritesEverythingQueuedAndLinesBeforeStartAreDropped) {
    log.push(0, quillet::log::kError, "antes del inicio", "", 0);
    ASSERT_TRUE(log.start());
    for (int i = 0; i < 2000; ++i) log.push(0, quillet::log::kInfo, "linea " + std::to_string(i), "", 0);
    log.stop();
    log.push(0, quillet::log::kError, "despues del fin", "", 0);
    std::string text = dayFile();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2000);
    EXPECT_TRUE(has(text, "linea 1999\r\n"));
    EXPECT_FALSE(has(text, "antes") || has(text, "despues"));
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
    EXPECT_TRUE(has(dayFile(), "INFO uno\r\n") && !has(dayFile(), "dos"));
    std::string jni = dayFile("quillet.jni");
    EXPECT_TRUE(has(jni, "INFO dos (Config.cpp):42\r\n") && has(jni, "INFO tres (Child.cpp):7\r\n")) << jni;
}

TEST_F(LogFixture, AFolderThatCannotBeMadeLosesTheLinesQuietly) {
    writeFile(dir.path() + "file", "x");
    log.setPath(0, dir.path() + "file/logs");
    ASSERT_TRUE(log.start());
    log.push(0, quillet::log::kError, "perdida", "", 0);
    log.stop();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "nothing but the file";
}

}  // namespace
