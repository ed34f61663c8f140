#include "process/Child.h"
#include "process/StreamWorkers.h"
#include "process/Log.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

using process::Child;
using namespace testing_support;

namespace {

std::vector<std::string> records;
void keepRecord(process::LogLevel level, const std::string& text, const char*, int) {
    if (level == process::LogLevel::info) records.push_back(text);
}

// Runs `command` and returns the records its standard error became.
std::vector<std::string> stderrRecordsOf(const std::string& command) {
    records.clear();
    process::setLogSink(&keepRecord);
    Child child(command);
    child.start(5, 1, false, false, true);
    process::logStderrWorker(child);
    child.wait();
    process::setLogSink(nullptr);
    return records;
}

TEST(CommandLine, QuotesGroupBlanksAndAreDropped) {
    EXPECT_EQ(process::splitCommandLine("\"java\"  -Da=1 -cp \"/a b/q.jar:/w.jar\" Main"),
              (std::vector<std::string>{"java", "-Da=1", "-cp", "/a b/q.jar:/w.jar", "Main"}));
    EXPECT_EQ(process::splitCommandLine("x \"\" y"), (std::vector<std::string>{"x", "", "y"}));
    EXPECT_TRUE(process::splitCommandLine("  \t ").empty());
}

TEST(Child, AChildThatWritesNothingEndsTheCollectionAtOnce) {
    Child child("true");
    child.start(0, 1, false, true, false);
    std::string chunk = "old";
    EXPECT_FALSE(child.readStdout(chunk, true));
    EXPECT_TRUE(chunk.empty());
    child.wait();
    EXPECT_EQ(child.exitCode(), 0u);
    EXPECT_EQ(failureOf([&] { child.readStdout(chunk, true); }), "illegal state, child' stdout is not open");
}

TEST(Child, InputRoundTripsThroughTheChildInChunksOfAtMost1024) {
    std::string input;
    for (int i = 0; i < 300000; ++i) input += static_cast<char>('a' + i % 26);
    Child child("cat");
    child.start(5, 1, true, true, true);
    std::string out, failure;
    {
        process::JoiningThread writer([&] { failure = process::writeStdinWorker(child, input); });
        std::string chunk;
        while (child.readStdout(chunk, true)) {
            ASSERT_LE(chunk.size(), 1024u);
            out += chunk;
        }
    }
    child.wait();
    EXPECT_EQ(failure, "");
    EXPECT_EQ(out, input);
}

TEST(Child, ExitCodesAndWaitingTwice) {
    Child child("sh -c \"exit 3\"");
    EXPECT_EQ(failureOf([&] { child.wait(); }), "invalid state: child must be started");
    child.start(0, 1, false, false, false);
    child.wait();
    EXPECT_EQ(child.exitCode(), 3u);
    EXPECT_TRUE(child.closed());
    EXPECT_EQ(failureOf([&] { child.wait(); }), "invalid state: child was already closed");
}

TEST(Child, RefusesBadCommandLinesBeforeStartingAnything) {
    EXPECT_EQ(failureOf([] { Child("").start(0, 1, false, true, false); }), "invalid argument for command in Child");
    Child tooLong("echo " + std::string(1019, 'x'));
    ASSERT_EQ(tooLong.commandLine().size(), 1024u);
    EXPECT_NE(failureOf([&] { tooLong.start(0, 1, false, true, false); }).find("demasiado larga"), std::string::npos);
    EXPECT_FALSE(tooLong.started());
    Child justFits("echo " + std::string(1018, 'x'));
    justFits.start(0, 1, false, true, false);
    justFits.wait();
    EXPECT_EQ(failureOf([] { Child("/nonexistent/program").start(0, 1, false, true, false); }),
              "CreateProcess failed with 2");
}

TEST(Child, WritingToAChildThatLeftFailsWithoutEndingUs) {
    Child child("true");
    child.start(5, 1, true, false, false);
    child.wait();
    std::string failure = process::writeStdinWorker(child, std::string(1 << 20, 'x'));
    EXPECT_EQ(failure, "WriteFile failed with 32");
    EXPECT_EQ(failureOf([&] { child.writeStdin("x", true); }), "illegal state, child' stdin is not open");
}

TEST(Child, AFailingCollectionEndsAndIsReportedWithoutThrowing) {
    Child child("echo nada");
    child.start(0, 1, false, false, false);
    std::string out = "antes";
    EXPECT_EQ(process::collectStdoutWorker(child, out), "illegal state, child' stdout is not open");
    EXPECT_EQ(out, "antes");
    EXPECT_EQ(process::logStderrWorker(child), "illegal state, child' stderr is not open");
    child.wait();
}

TEST(StderrLines, LinesSplitAcrossReadsAreLoggedWholeAndTheLastOneWithoutBreakToo) {
    process::LineSplitter lines;
    EXPECT_TRUE(lines.feed("uno\r\ndo").size() == 1);
    EXPECT_EQ(lines.feed("s\r"), std::vector<std::string>{});
    EXPECT_EQ(lines.feed("\ntres\ncua"), (std::vector<std::string>{"dos", "tres"}));
    EXPECT_EQ(lines.finish(), "cua");
    EXPECT_EQ(lines.finish(), "");

    EXPECT_EQ(stderrRecordsOf("sh -c \"printf 'mitad-' >&2; sleep 0.3; printf 'entera\\nsin salto' >&2\""),
              (std::vector<std::string>{"[stderr] mitad-entera", "[stderr] sin salto"}));
}

}  // namespace
