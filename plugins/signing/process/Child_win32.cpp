// The child process on Windows: CreateProcessW from the program's full path,
// one command line by the rules the child splits it with, only its three pipe
// ends inherited, created suspended and put in a job object that ends all it
// holds when it is closed, then resumed. Ending the job ends the child and
// everything it started.
#include "process/Child.h"

#include "process/Log.h"

#include "zelvo/command_line.h"
#include "zelvo/inherited_handles.h"
#include "zelvo/paths.h"
#include "zelvo/utf16.h"
#include "zelvo/win32.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <stdexcept>

namespace process {
namespace {

using zelvo::win32::Handle;

// The exit code of a child ended by us (the job's end).
constexpr UINT kEndedExitCode = 1;

[[noreturn]] void fail(const std::string& what, DWORD err) {
    throw std::runtime_error(what + " failed with " + std::to_string(err));
}

// Stdin: the parent writes; stdout and stderr: the parent reads. `child` is the
// child's end, or the null device for a stream not redirected.
struct Pipe {
    Handle parent;
    Handle child;
};

// The null device for a stream the child gets nothing on.
Handle nullDevice(bool write) {
    Handle h = zelvo::win32::inheritableNullDevice(write);
    if (!h) fail("CreateFile NUL", GetLastError());
    return h;
}

// A job that ends every process in it when its last handle closes.
Handle killOnCloseJob() {
    Handle job(CreateJobObjectW(nullptr, nullptr));
    if (!job) fail("CreateJobObject", GetLastError());
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
        fail("SetInformationJobObject", GetLastError());
    return job;
}

std::wstring wide(const std::string& text) {
    std::optional<std::wstring> w = zelvo::toUtf16(text);
    if (!w) throw std::runtime_error("La línea de comandos no es texto UTF-8 válido: " + text);
    return *w;
}

// The system folder (where the system's own programs are), without a trailing separator.
std::string systemFolder() {
    wchar_t buffer[MAX_PATH + 1];
    UINT n = GetSystemDirectoryW(buffer, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH) return "";
    return zelvo::toUtf8(std::wstring(buffer, n)).value_or(std::string());
}

bool isFullPath(const std::string& path) {
    bool drive = path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
                 zelvo::isPathSeparator(path[2]);
    bool share = path.size() >= 3 && path[0] == '\\' && path[1] == '\\' && path[2] != '?' && path[2] != '.';
    return drive || share;
}

}  // namespace

const char kJavaProgram[] = "javaw.exe";

CommandLine& CommandLine::add(const std::string& word, bool quoted) {
    text_ += " " + zelvo::quoteWindowsArgument(word, quoted);
    words_.push_back(word);
    return *this;
}

CommandLine& CommandLine::addAsWritten(const std::string& options) {
    // The system's own splitter reads them; the first word it gives is taken
    // for the program, hence the one put before them.
    std::wstring line = L"x " + wide(options);
    int count = 0;
    zelvo::win32::LocalMemory argv(reinterpret_cast<HLOCAL>(CommandLineToArgvW(line.c_str(), &count)));
    if (!argv) fail("CommandLineToArgvW", GetLastError());
    std::string words;
    for (int i = 1; i < count; ++i) {
        std::string word = zelvo::toUtf8Lossy(static_cast<wchar_t**>(argv.get())[i]);
        words += (i > 1 ? " " : "") + zelvo::quoteWindowsArgument(word);
        words_.push_back(std::move(word));
    }
    text_ += " " + words;
    return *this;
}

CommandLine locatorOf(const std::string& program) {
    std::string system = systemFolder();
    if (system.empty()) return CommandLine("");
    return CommandLine(system + "\\where.exe").add(program).startIn(system);
}

std::string locatedProgram(const std::string&, const std::string& located) {
    // where.exe prints every match, one a line, the one the search finds first first.
    std::string first = located.substr(0, located.find_first_of("\r\n"));
    while (!first.empty() && (first.back() == ' ' || first.back() == '\t')) first.pop_back();
    // The system's where.exe writes to a pipe in the OEM code page (a program
    // without a console has no other); a UTF-8 reading comes first, since ASCII
    // reads the same in all three.
    std::vector<std::string> readings;
    if (zelvo::toUtf16(first)) readings.push_back(first);
    for (UINT codePage : {CP_OEMCP, CP_ACP}) {
        int n = MultiByteToWideChar(codePage, 0, first.data(), static_cast<int>(first.size()), nullptr, 0);
        std::wstring text(static_cast<size_t>(std::max(n, 0)), L'\0');
        if (n > 0 && MultiByteToWideChar(codePage, 0, first.data(), static_cast<int>(first.size()), text.data(), n) == n)
            readings.push_back(zelvo::toUtf8Lossy(text));
    }
    for (const std::string& path : readings)
        if (isFullPath(path) && zelvo::fileInfo(path).regular) return path;
    return "";
}

struct Child::Impl {
    Handle process;
    Handle job;
    DWORD pid = 0;
    Pipe in, out, err;

    Pipe& pipe(Stream stream) { return stream == Stream::input ? in : stream == Stream::output ? out : err; }
    void openPipe(Pipe& pipe, bool parentWrites, const char* traceText);
    void endJob() {
        if (job) TerminateJobObject(job.get(), kEndedExitCode);
    }
};

Child::Child(CommandLine command) : command_(std::move(command)), impl_(std::make_unique<Impl>()) {}

Child::~Child() {
    impl_->in.parent.reset();
    impl_->out.parent.reset();
    impl_->err.parent.reset();
    // A child nobody waited for (a run cut short by a failure) is not left
    // behind; closing the job ends whatever else is still in it.
    if (started_ && !closed_) impl_->endJob();
}

long Child::pid() const { return static_cast<long>(impl_->pid); }

void Child::Impl::openPipe(Pipe& pipe, bool parentWrites, const char* traceText) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) fail("CreatePipe", GetLastError());
    Handle r(readEnd), w(writeEnd);
    pipe.parent = parentWrites ? std::move(w) : std::move(r);
    pipe.child = parentWrites ? std::move(r) : std::move(w);
    // Our end stays ours.
    if (!SetHandleInformation(pipe.parent.get(), HANDLE_FLAG_INHERIT, 0)) fail("SetHandleInformation", GetLastError());
    PROCESS_LOG(trace, traceText);
}

void Child::launch(uint16_t showCommand, uint32_t startupFlags, bool redirectInput, bool redirectOutput,
                   bool redirectError) {
    std::wstring line = wide(command_.text());
    if (line.size() > kMaxCommandLine)
        throw std::runtime_error("La línea de comandos es demasiado larga: " + std::to_string(line.size()) +
                                 " caracteres (se admiten hasta " + std::to_string(kMaxCommandLine) + ")");
    std::wstring program = wide(command_.program());
    std::optional<std::wstring> folder;
    if (!command_.folder().empty()) folder = wide(command_.folder());

    Impl& d = *impl_;
    if (redirectInput) d.openPipe(d.in, true, "child' stdinput opened");
    else d.in.child = nullDevice(false);
    if (redirectOutput) d.openPipe(d.out, false, "child' stdout opened");
    else d.out.child = nullDevice(true);
    if (redirectError) d.openPipe(d.err, false, "child' stderr opened");
    else d.err.child = nullDevice(true);

    // Only these three reach the child, whatever else of ours is inheritable.
    zelvo::win32::InheritedHandles inherited(d.in.child.get(), d.out.child.get(), d.err.child.get());
    if (!inherited.get()) fail("UpdateProcThreadAttribute", inherited.error());
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = startupFlags | STARTF_USESTDHANDLES;
    startup.StartupInfo.wShowWindow = showCommand;
    startup.StartupInfo.hStdInput = d.in.child.get();
    startup.StartupInfo.hStdOutput = d.out.child.get();
    startup.StartupInfo.hStdError = d.err.child.get();
    startup.lpAttributeList = inherited.get();
    Handle job = killOnCloseJob();

    // Suspended until it is in the job, so that nothing it starts escapes it.
    DWORD flags = CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT | (showCommand == 0 ? CREATE_NO_WINDOW : 0);
    std::vector<wchar_t> mutableLine(line.begin(), line.end());
    mutableLine.push_back(L'\0');
    PROCESS_LOG(trace, "starting '" + command_.text() + "'");
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.c_str(), mutableLine.data(), nullptr, nullptr, TRUE, flags, nullptr,
                        folder ? folder->c_str() : nullptr, &startup.StartupInfo, &info)) {
        DWORD why = GetLastError();
        d.in = Pipe{};
        d.out = Pipe{};
        d.err = Pipe{};
        fail("CreateProcess", why);
    }
    Handle process(info.hProcess), thread(info.hThread);
    if (!AssignProcessToJobObject(job.get(), process.get())) {
        DWORD why = GetLastError();
        TerminateProcess(process.get(), kEndedExitCode);
        fail("AssignProcessToJobObject", why);
    }
    d.process = std::move(process);
    d.job = std::move(job);
    d.pid = info.dwProcessId;
    started_ = true;
    if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) fail("ResumeThread", GetLastError());
    if (!CloseHandle(thread.release())) fail("CloseHandle", GetLastError());
    // The parent's copies of the child's ends go at once, so that the ends of
    // the streams are seen when the child closes them.
    for (Pipe* p : {&d.in, &d.out, &d.err})
        if (HANDLE h = p->child.release(); h && !CloseHandle(h))
            PROCESS_LOG(warning, "CloseHandle failed with " + std::to_string(GetLastError()));
}

bool Child::isOpen(Stream stream) const { return static_cast<bool>(impl_->pipe(stream).parent); }

void Child::close(Stream stream) { impl_->pipe(stream).parent.reset(); }

void Child::writeAll(const std::string& bytes) {
    Handle& in = impl_->in.parent;
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD put = 0;
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        if (!WriteFile(in.get(), bytes.data() + done, chunk, &put, nullptr)) {
            DWORD why = GetLastError();
            in.reset();
            fail("WriteFile", why);
        }
        done += put;
    }
}

size_t Child::readSome(Stream stream, const char* name, char* data, size_t size) {
    // A read of nothing that succeeds (a write of nothing at the other end) is
    // not the end: that is a broken pipe, every copy of the writing end closed.
    DWORD n = 0;
    while (n == 0) {
        if (!ReadFile(impl_->pipe(stream).parent.get(), data, static_cast<DWORD>(size), &n, nullptr)) {
            DWORD why = GetLastError();
            if (why == ERROR_BROKEN_PIPE) return 0;
            fail(std::string("ReadFile ") + name, why);
        }
    }
    return n;
}

uint32_t Child::waitForExit() {
    if (WaitForSingleObject(impl_->process.get(), INFINITE) == WAIT_FAILED)
        fail("WaitForSingleObject", GetLastError());
    DWORD code = 0;
    if (!GetExitCodeProcess(impl_->process.get(), &code)) fail("GetExitCodeProcess", GetLastError());
    if (!CloseHandle(impl_->process.release())) fail("CloseHandle", GetLastError());
    return code;
}

bool Child::hasExited() {
    DWORD state = WaitForSingleObject(impl_->process.get(), 0);
    if (state == WAIT_FAILED) fail("WaitForSingleObject", GetLastError());
    return state == WAIT_OBJECT_0;
}

void Child::askToEnd() { terminate(); }

void Child::terminate() {
    // The job holds only the child and what it started, even after the wait.
    if (started_) impl_->endJob();
}

}  // namespace process
