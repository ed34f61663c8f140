#include "process/Child.h"
#include "process/StreamWorkers.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>

using process::Child;
using namespace testing_support;

namespace {

TEST(CommandLine, QuotesGroupBlanksAndAreDropped) {
    using Words = std::vector<std::string>;
    for (const auto& [line, words] : {std::pair<const char*, Words>{"\"java\"  -Da=1 -cp \"/a b/q.jar:/w.jar\" Main",
                                                                   {"java", "-Da=1", "-cp", "/a b/q.jar:/w.jar", "Main"}},
                                      {"x \"\" y", {"x", "", "y"}}, {"  \t ", {}}})
        EXPECT_EQ(process::splitCommandLine(line), words) << line;
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

TEST(Child, ClosedStreamsAreReportedWithoutThrowingAndNothingWrittenEndsAtOnce) {
    Child child("true");
    child.start(0, 1, false, true, false);
    std::string chunk = "old";
    EXPECT_FALSE(child.readStdout(chunk, true));
    EXPECT_TRUE(chunk.empty());
    child.wait();
    EXPECT_EQ(failureOf([&] { child.readStdout(chunk, true); }), "illegal state, child' stdout is not open");
    std::string out = "antes";
    EXPECT_EQ(process::collectStdoutWorker(child, out), "illegal state, child' stdout is not open");
    EXPECT_EQ(out, "antes");
    EXPECT_EQ(process::logStderrWorker(child), "illegal state, child' stderr is not open");
}

// How a child that does not end is ended: asked (SIGTERM) at the time limit or
// on a stop request, killed when it ignores that. The end of its standard output
// proves that nothing the child started still holds it.
TEST(Child, WaitWithinEndsAChildAtItsLimitOrWhenAskedAndKillsOneThatIgnoresIt) {
    using namespace std::chrono_literals;
    using process::RunEnd;
    const struct {
        const char* command;
        std::chrono::milliseconds limit;  // zero: none
        bool stopAsked;
        RunEnd end;
        uint32_t exitCode;
    } rows[] = {
        {"sh -c \"exit 4\"", 0ms, false, RunEnd::exited, 4},
        {"sh -c \"sleep 30 & exit 3\"", 0ms, false, RunEnd::exited, 3},  // what it left behind goes too
        {"sleep 30", 0ms, true, RunEnd::stopped, 128 + SIGTERM},
        {"sh -c \"sleep 30 & sleep 30\"", 200ms, false, RunEnd::timedOut, 128 + SIGTERM},
        {"sh -c \"trap '' TERM; sleep 30\"", 200ms, false, RunEnd::timedOut, 128 + SIGKILL},
    };
    for (const auto& row : rows) {
        Child child(row.command);
        child.start(5, 1, false, true, false);
        process::StopSignal stop;
        if (row.stopAsked) stop.request();
        std::string out;
        process::JoiningThread collector([&] { process::collectStdoutWorker(child, out); });
        EXPECT_EQ(process::waitWithin(child, row.limit, stop, {300ms, 200ms}), row.end) << row.command;
        EXPECT_EQ(child.exitCode(), row.exitCode) << row.command;
    }
}

// The lines reaching the log through the signing plug-in are proved end to end.
TEST(StderrLines, LinesSplitAcrossReadsComeWholeAndTheLastOneWithoutBreakToo) {
    process::LineSplitter lines;
    EXPECT_EQ(lines.feed("uno\r\ndo"), std::vector<std::string>{"uno"});
    EXPECT_EQ(lines.feed("s\r"), std::vector<std::string>{});
    EXPECT_EQ(lines.feed("\ntres\ncua"), (std::vector<std::string>{"dos", "tres"}));
    EXPECT_EQ(lines.finish(), "cua");
    EXPECT_EQ(lines.finish(), "");
}

}  // namespace
