// The child-process library's rules that read the same on every system; the
// children themselves are started in ChildTest_posix.cpp and ChildTest_win32.cpp.
#include "ChildPrograms.h"
#include "process/Child.h"
#include "process/StreamWorkers.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using process::Child;
using process::CommandLine;
using namespace testing_support;

namespace {

TEST(CommandLine, QuotesGroupBlanksAndAreDropped) {
    using Words = std::vector<std::string>;
    for (const auto& [line, words] : {std::pair<const char*, Words>{"\"java\"  -Da=1 -cp \"/a b/q.jar:/w.jar\" Main",
                                                                   {"java", "-Da=1", "-cp", "/a b/q.jar:/w.jar", "Main"}},
                                      {"x \"\" y", {"x", "", "y"}}, {"  \t ", {}}})
        EXPECT_EQ(process::splitCommandLine(line), words) << line;
}

TEST(CommandLine, TheProgramComesFirstThenEveryWordAsGiven) {
    CommandLine cl("prog");
    cl.addAsWritten("").add("a b").addAsWritten("-Xmx1m  -Dx=\"1 2\"").add("");
    EXPECT_EQ(cl.words(), (std::vector<std::string>{"prog", "a b", "-Xmx1m", "-Dx=1 2", ""}));
    EXPECT_EQ(cl.program(), "prog");
    EXPECT_EQ(cl.text().rfind("\"prog\"  ", 0), 0u) << "options that are not there still leave their blank";
    EXPECT_EQ(cl.folder(), "");
    EXPECT_EQ(cl.startIn("somewhere").folder(), "somewhere");
}

TEST(Child, InputRoundTripsThroughTheChildInChunksOfAtMost1024) {
    std::string input;
    for (int i = 0; i < 300000; ++i) input += static_cast<char>('a' + i % 26);
    Child child(copyingChild());
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
    Child child(exitingChild(3));
    EXPECT_EQ(failureOf([&] { child.wait(); }), "invalid state: child must be started");
    EXPECT_EQ(failureOf([&] { child.hasEnded(); }), "invalid state: child must be started");
    child.start(0, 1, false, false, false);
    EXPECT_EQ(failureOf([&] { child.start(0, 1, false, false, false); }), "invalid state: child was already started");
    child.wait();
    EXPECT_EQ(child.exitCode(), 3u);
    EXPECT_TRUE(child.closed() && child.hasEnded());
    EXPECT_EQ(failureOf([&] { child.wait(); }), "invalid state: child was already closed");
    EXPECT_EQ(failureOf([] { Child(CommandLine("")).start(0, 1, false, true, false); }),
              "invalid argument for command in Child");
}

TEST(Child, ClosedStreamsAreReportedWithoutThrowingAndNothingWrittenEndsAtOnce) {
    Child child(exitingChild(0));
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
