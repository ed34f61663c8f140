// Children on Windows, under Wine in the build: the tests' own child_probe.exe,
// started through the Child from folders whose names hold blanks, accents and
// "(x86)".
#include "ChildPrograms.h"
#include "process/Child.h"
#include "process/StreamWorkers.h"
#include "TestSupport.h"

#include "zelvo/utf16.h"
#include "zelvo/win32.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <optional>
#include <thread>

using process::Child;
using process::CommandLine;
using namespace testing_support;
using namespace std::chrono_literals;

namespace {

std::string probe() { return zelvo::programDir() + "child_probe.exe"; }

}  // namespace

namespace testing_support {

process::CommandLine copyingChild() { return CommandLine(probe()).add("cat"); }
process::CommandLine exitingChild(int code) { return CommandLine(probe()).add("exit").add(std::to_string(code)); }

}  // namespace testing_support

namespace {

std::wstring wide(const std::string& text) { return zelvo::toUtf16(text).value(); }

// A copy of the probe where installed programs live, with all the characters
// that break a command line built carelessly.
struct InstalledProbe {
    TempDir dir;
    std::string path;
    explicit InstalledProbe(const std::string& name = "Firmá Ñandú €") {
        std::string folder = dir.path() + "Program Files (x86)\\" + name + "\\";
        std::filesystem::create_directories(fsPath(folder));
        path = folder + "child probe.exe";
        std::filesystem::copy_file(fsPath(probe()), fsPath(path));
    }
};

// Starts `command` with only its standard output redirected; everything it
// wrote, once it has ended.
std::string outputOf(const CommandLine& command, uint32_t* exitCode = nullptr) {
    Child child(command);
    child.start(0, 1, false, true, false);
    std::string out, failure = process::collectStdoutWorker(child, out);
    child.wait();
    EXPECT_EQ(failure, "");
    if (exitCode) *exitCode = child.exitCode();
    return out;
}

std::string unhex(const std::string& text) {
    std::string out;
    for (size_t i = 0; i + 1 < text.size(); i += 2) out += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    return out;
}

// True when no process of that id runs any more.
bool gone(DWORD pid) {
    zelvo::win32::Handle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
    return !process || WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
}

// True when both have ended (the end of a job is asynchronous: a moment is
// given). A survivor is ended here, so that a failing test fails instead of
// waiting for ever on the pipes it holds.
bool bothGone(DWORD child, DWORD grandchild) {
    for (int i = 0; i < 100 && !(gone(child) && gone(grandchild)); ++i) std::this_thread::sleep_for(50ms);
    bool ended = gone(child) && gone(grandchild);
    for (DWORD pid : {child, grandchild}) {
        zelvo::win32::Handle survivor(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
        if (!ended && survivor) TerminateProcess(survivor.get(), 99);
    }
    return ended;
}

// Waits (30 s at most) for the id a spawning probe writes.
DWORD spawnedId(const std::string& pidFile) {
    for (int i = 0; i < 600 && !zelvo::fileExists(pidFile + ".ok"); ++i) std::this_thread::sleep_for(50ms);
    std::string text = readFile(pidFile);
    return text.empty() ? 0 : static_cast<DWORD>(std::stoul(text));
}

TEST(WindowsChild, EveryWordReachesTheChildAsItWasGiven) {
    InstalledProbe installed;
    const std::vector<std::string> tricky = {
        "",
        "a b",
        "tab\there",
        "quote\"inside",
        "\"",
        "trailing\\",
        "C:\\Program Files (x86)\\Java\\jre\\bin\\",
        "back\\\\\"slash\\\\",
        "\\\\server\\share\\",
        "x\"\"y",
        "line\nbreak",
        "ñandú € 東京",
        "-Dlog4jpath=C:\\Users\\José Pérez\\AppData\\Local\\Zelvo\\signing\\",
    };
    CommandLine command(installed.path);
    command.add("words");
    for (const std::string& word : tricky) command.add(word);
    command.add("-cp").add("C:\\Archivos (x86)\\q.jar;C:\\w.jar", true);
    command.addAsWritten("-Xmx64m  -Dx=\"1 2\" -Dy=\\\"q\\\"");
    std::vector<std::string> expected = command.words();
    ASSERT_EQ(std::vector<std::string>(expected.end() - 3, expected.end()),
              (std::vector<std::string>{"-Xmx64m", "-Dx=1 2", "-Dy=\"q\""}));

    std::vector<std::string> system, runtime;
    std::string out = outputOf(command);
    for (size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = out.substr(start, end - start);
        (line[0] == 'C' ? system : runtime).push_back(unhex(line.substr(2)));
    }
    EXPECT_EQ(system, expected) << command.text();
    EXPECT_EQ(runtime, expected) << command.text();
}

TEST(WindowsChild, OnlyItsThreeStreamsAreInherited) {
    TempDir dir;
    std::string name = "heredable-" + std::to_string(GetCurrentProcessId()) + ".txt";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    zelvo::win32::FileHandle file(CreateFileW(wide(dir.path() + name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                              CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file);
    std::string value = std::to_string(reinterpret_cast<uintptr_t>(file.get()));
    EXPECT_EQ(outputOf(CommandLine(probe()).add("inherited").add(value).add(name)), "no");

    // The probe does see a handle that is inherited: the same start without the
    // list of handles hands it over.
    TempDir outDir;
    std::string outPath = outDir.path() + "out.txt";
    zelvo::win32::FileHandle out(CreateFileW(wide(outPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                             CREATE_ALWAYS, 0, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out.get();
    std::wstring line = wide(CommandLine(probe()).add("inherited").add(value).add(name).text());
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(CreateProcessW(wide(probe()).c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                               nullptr, &startup, &info));
    zelvo::win32::Handle process(info.hProcess), thread(info.hThread);
    ASSERT_EQ(WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
    out.reset();
    EXPECT_EQ(readFile(outPath), "yes");
}

TEST(WindowsChild, StartsInTheFolderItIsGivenAndFindsJavaWithTheSystemsWhere) {
    TempDir dir;
    std::string out = outputOf(CommandLine(probe()).add("cwd").startIn(dir.path()));
    EXPECT_EQ(zelvo::canonicalPath(out), zelvo::canonicalPath(dir.path()));

    wchar_t system[MAX_PATH];
    UINT n = GetSystemDirectoryW(system, MAX_PATH);
    std::string systemFolder = zelvo::toUtf8(std::wstring(system, n)).value();
    CommandLine where = process::locatorOf(process::kJavaProgram);
    EXPECT_EQ(where.words(), (std::vector<std::string>{systemFolder + "\\where.exe", "javaw.exe"}));
    EXPECT_EQ(where.folder(), systemFolder) << "not the current folder, not ours";

    // Only a full path to a file that is there is started.
    std::string found = probe();
    const std::pair<std::string, std::string> rows[] = {
        {"", ""},
        {found + "\r\nD:\\otro\\javaw.exe\r\n", found},
        {found + " \r\n", found},
        {dir.path() + "javaw.exe\r\n", ""},
        {"javaw.exe\r\n", ""},
        {".\\javaw.exe\r\n", ""},
        {"INFORMACIÓN: no se encontró\r\n", ""},
    };
    for (const auto& [printed, program] : rows) EXPECT_EQ(process::locatedProgram("javaw.exe", printed), program) << printed;

    // The system's where.exe writes in the OEM code page (which has no "€").
    InstalledProbe installed("Firmá Ñandú");
    std::wstring path = wide(installed.path);
    int size = WideCharToMultiByte(CP_OEMCP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0, nullptr, nullptr);
    std::string oem(static_cast<size_t>(size), '\0');
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_OEMCP, 0, path.data(), static_cast<int>(path.size()), oem.data(), size, nullptr, &lossy);
    ASSERT_FALSE(zelvo::toUtf16(oem)) << "not UTF-8, or this checks nothing";
    ASSERT_FALSE(lossy);
    EXPECT_EQ(process::locatedProgram("javaw.exe", oem + "\r\n"), installed.path);
}

TEST(WindowsChild, RefusesBadCommandLinesBeforeStartingAnything) {
    TempDir dir;
    EXPECT_EQ(failureOf([&] { Child(CommandLine(dir.path() + "javaw.exe")).start(0, 1, false, true, false); }),
              "CreateProcess failed with 2");
    // Characters, not bytes: "é" is one.
    CommandLine base = CommandLine(probe()).add("exit").add("0").add("é");
    size_t length = zelvo::toUtf16(base.text()).value().size() + 1;
    Child tooLong(CommandLine(base).add(std::string(1024 - length, 'x')));
    EXPECT_NE(failureOf([&] { tooLong.start(0, 1, false, true, false); }).find("demasiado larga: 1024"), std::string::npos);
    EXPECT_FALSE(tooLong.started());
    Child justFits(CommandLine(base).add(std::string(1023 - length, 'x')));
    justFits.start(0, 1, false, true, false);
    justFits.wait();
    EXPECT_EQ(justFits.exitCode(), 0u);
}

TEST(WindowsChild, WritingToAChildThatLeftFailsWithoutEndingUs) {
    Child child(CommandLine(probe()).add("exit").add("0"));
    child.start(5, 1, true, true, true);
    child.wait();
    std::string failure = process::writeStdinWorker(child, std::string(1 << 20, 'x'));
    EXPECT_EQ(failure.rfind("WriteFile failed with ", 0), 0u) << failure;
    EXPECT_EQ(failureOf([&] { child.writeStdin("x", true); }), "illegal state, child' stdin is not open");
    std::string chunk = "old";
    EXPECT_FALSE(child.readStdout(chunk, true)) << "nothing written: the end at once";
    EXPECT_TRUE(chunk.empty());
    EXPECT_EQ(process::logStderrWorker(child), "");
    EXPECT_EQ(failureOf([&] { child.readStderr(chunk, true); }), "illegal state, child' stderr is not open");
}

// The job: the time limit, a stop, and the child's own end each end what the
// child started. The grandchild inherits the child's standard output, so its
// end also ends the collection.
TEST(WindowsChild, NothingTheChildStartedOutlivesTheRun) {
    using process::RunEnd;
    const struct {
        const char* mode;
        std::chrono::milliseconds limit;  // zero: none
        bool stopAsked;
        RunEnd end;
        uint32_t exitCode;
    } rows[] = {
        {"spawn-then-exit", 0ms, false, RunEnd::exited, 0},
        {"spawn-then-hang", 200ms, false, RunEnd::timedOut, 1},
        {"spawn-then-hang", 0ms, true, RunEnd::stopped, 1},
    };
    for (const auto& row : rows) {
        TempDir dir;
        std::string pidFile = dir.path() + "nieto.txt";
        Child c(CommandLine(probe()).add(row.mode).add(pidFile));
        c.start(0, 1, false, true, false);
        std::string out;
        std::optional<process::JoiningThread> collector;
        collector.emplace([&] { process::collectStdoutWorker(c, out); });
        DWORD grandchild = spawnedId(pidFile);
        process::StopSignal stop;
        if (row.stopAsked || grandchild == 0) stop.request();
        EXPECT_EQ(process::waitWithin(c, row.limit, stop, {300ms, 200ms}), row.end) << row.mode;
        EXPECT_EQ(c.exitCode(), row.exitCode) << row.mode;
        EXPECT_NE(grandchild, 0u) << row.mode;
        EXPECT_TRUE(bothGone(static_cast<DWORD>(c.pid()), grandchild)) << row.mode;
        collector.reset();
    }
}

TEST(WindowsChild, ADroppedChildEndsWithEverythingItStarted) {
    TempDir dir;
    std::string pidFile = dir.path() + "nieto.txt";
    DWORD child = 0, grandchild = 0;
    {
        Child c(CommandLine(probe()).add("spawn-then-hang").add(pidFile));
        c.start(0, 1, false, false, false);
        child = static_cast<DWORD>(c.pid());
        grandchild = spawnedId(pidFile);
    }
    EXPECT_NE(grandchild, 0u);
    EXPECT_TRUE(bothGone(child, grandchild));
}

}  // namespace
