// Children on POSIX: real programs (cat, sh, sleep) through posix_spawn.
#include "ChildPrograms.h"
#include "process/Child.h"
#include "process/StreamWorkers.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>

using process::Child;
using process::CommandLine;
using namespace testing_support;

namespace testing_support {

process::CommandLine copyingChild() { return process::CommandLine("cat"); }
process::CommandLine exitingChild(int code) { return process::CommandLine("sh").add("-c").add("exit " + std::to_string(code)); }

}  // namespace testing_support

namespace {

CommandLine shell(const std::string& script) { return CommandLine("sh").add("-c").add(script); }

TEST(Child, RefusesBadCommandLinesBeforeStartingAnything) {
    Child tooLong(CommandLine("echo").add(std::string(1017, 'x')));
    ASSERT_EQ(tooLong.commandLine().size(), 1024u);
    EXPECT_NE(failureOf([&] { tooLong.start(0, 1, false, true, false); }).find("demasiado larga"), std::string::npos);
    EXPECT_FALSE(tooLong.started());
    Child justFits(CommandLine("echo").add(std::string(1016, 'x')));
    justFits.start(0, 1, false, true, false);
    justFits.wait();
    EXPECT_EQ(failureOf([] { Child(CommandLine("/nonexistent/program")).start(0, 1, false, true, false); }),
              "CreateProcess failed with 2");
}

TEST(Child, WritingToAChildThatLeftFailsWithoutEndingUs) {
    Child child(CommandLine("true"));
    child.start(5, 1, true, false, false);
    child.wait();
    std::string failure = process::writeStdinWorker(child, std::string(1 << 20, 'x'));
    EXPECT_EQ(failure, "WriteFile failed with 32");
    EXPECT_EQ(failureOf([&] { child.writeStdin("x", true); }), "illegal state, child' stdin is not open");
}

TEST(Child, StartsInTheFolderItIsGivenAndFindsJavaWithWhich) {
    TempDir dir;
    Child child(CommandLine("pwd").startIn(dir.path()));
    child.start(0, 1, false, true, false);
    std::string out;
    EXPECT_EQ(process::collectStdoutWorker(child, out), "");
    child.wait();
    EXPECT_EQ(zelvo::canonicalPath(out.substr(0, out.find('\n'))), zelvo::canonicalPath(dir.path()));

    CommandLine which = process::locatorOf(process::kJavaProgram);
    EXPECT_EQ(which.words(), (std::vector<std::string>{"which", "java"}));
    EXPECT_EQ(process::locatedProgram("java", "/usr/bin/java\n"), "java") << "PATH finds it as which did";
}

// How a child that does not end is ended: asked (SIGTERM) at the time limit or
// on a stop request, killed when it ignores that. The end of its standard output
// proves that nothing the child started still holds it.
TEST(Child, WaitWithinEndsAChildAtItsLimitOrWhenAskedAndKillsOneThatIgnoresIt) {
    using namespace std::chrono_literals;
    using process::RunEnd;
    const struct {
        const char* script;
        std::chrono::milliseconds limit;  // zero: none
        bool stopAsked;
        RunEnd end;
        uint32_t exitCode;
    } rows[] = {
        {"exit 4", 0ms, false, RunEnd::exited, 4},
        {"sleep 30 & exit 3", 0ms, false, RunEnd::exited, 3},  // what it left behind goes too
        {"exec sleep 30", 0ms, true, RunEnd::stopped, 128 + SIGTERM},
        {"sleep 30 & sleep 30", 200ms, false, RunEnd::timedOut, 128 + SIGTERM},
        {"trap '' TERM; sleep 30", 200ms, false, RunEnd::timedOut, 128 + SIGKILL},
    };
    for (const auto& row : rows) {
        Child child(shell(row.script));
        child.start(5, 1, false, true, false);
        process::StopSignal stop;
        if (row.stopAsked) stop.request();
        std::string out;
        process::JoiningThread collector([&] { process::collectStdoutWorker(child, out); });
        EXPECT_EQ(process::waitWithin(child, row.limit, stop, {300ms, 200ms}), row.end) << row.script;
        EXPECT_EQ(child.exitCode(), row.exitCode) << row.script;
    }
}

}  // namespace
