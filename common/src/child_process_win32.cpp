#include "zelvo/child_process.h"

#include "child_output.h"

#include "zelvo/command_line.h"
#include "zelvo/dialog.h"
#include "zelvo/inherited_handles.h"
#include "zelvo/paths.h"
#include "zelvo/system_error.h"
#include "zelvo/utf16.h"
#include "zelvo/win32.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace zelvo {

using win32::Handle;

void keepStandardStreamsFromChildren() {
    for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        HANDLE handle = GetStdHandle(which);
        if (handle && handle != INVALID_HANDLE_VALUE) SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
    }
}

struct ChildProcess::Impl {
    Handle process;
    Handle output;  // read end of its standard output
    DWORD pid = 0;
};

ChildProcess::ChildProcess(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

namespace {

// An inheritable copy of our standard error, or the null device when we have none.
Handle ourErrors() {
    HANDLE own = GetStdHandle(STD_ERROR_HANDLE);
    HANDLE copy = nullptr;
    if (own && own != INVALID_HANDLE_VALUE &&
        DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
        return Handle(copy);
    return win32::inheritableNullDevice(true);
}

// A name without a folder is looked for only on PATH (with ".exe" added when it
// has no extension): never in the current folder or the program's, where
// CreateProcessW would look first.
std::string resolveProgram(const std::string& program) {
    for (char c : program)
        if (isPathSeparator(c)) return program;
    std::string name = program;
    if (name.find('.') == std::string::npos) name += ".exe";
    return findOnPath(name);
}

}  // namespace

std::unique_ptr<ChildProcess> ChildProcess::start(const std::vector<std::string>& words, const Options& options,
                                                  std::string& error) {
    if (words.empty()) {
        error = "no program";
        return nullptr;
    }
    const std::string program = resolveProgram(words.front());
    if (program.empty()) {
        error = systemErrorText(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    std::vector<std::string> line = words;
    line.front() = program;
    std::optional<std::wstring> wideProgram = toUtf16(program);
    std::optional<std::wstring> wideLine = toUtf16(windowsCommandLine(line));
    if (!wideProgram || !wideLine) {
        error = "texto no válido en la orden";
        return nullptr;
    }

    auto impl = std::make_unique<Impl>();
    Handle input = win32::inheritableNullDevice(false);
    Handle outputWrite;
    if (options.captureOutput) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE readEnd = nullptr, writeEnd = nullptr;
        if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
            error = systemErrorText(GetLastError());
            return nullptr;
        }
        impl->output.reset(readEnd);
        outputWrite.reset(writeEnd);
        // Our end stays ours.
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    } else {
        outputWrite = win32::inheritableNullDevice(true);
    }
    Handle errors = options.quietErrors ? win32::inheritableNullDevice(true) : ourErrors();
    if (!input || !outputWrite || !errors) {
        error = systemErrorText(GetLastError());
        return nullptr;
    }

    // Only these three handles reach the child, whatever else is inheritable.
    win32::InheritedHandles inherited(input.get(), outputWrite.get(), errors.get());
    if (!inherited.get()) {
        error = systemErrorText(inherited.error());
        return nullptr;
    }
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input.get();
    startup.StartupInfo.hStdOutput = outputWrite.get();
    startup.StartupInfo.hStdError = errors.get();
    startup.lpAttributeList = inherited.get();
    PROCESS_INFORMATION info{};
    std::vector<wchar_t> mutableLine(wideLine->begin(), wideLine->end());
    mutableLine.push_back(L'\0');
    const BOOL created = CreateProcessW(wideProgram->c_str(), mutableLine.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT,
                                        nullptr, nullptr, &startup.StartupInfo, &info);
    if (!created) {
        error = systemErrorText(GetLastError());
        return nullptr;
    }
    CloseHandle(info.hThread);
    impl->process.reset(info.hProcess);
    impl->pid = info.dwProcessId;
    if (options.mayTakeForeground) AllowSetForegroundWindow(info.dwProcessId);
    return std::unique_ptr<ChildProcess>(new ChildProcess(std::move(impl)));
}

ChildProcess::~ChildProcess() = default;

bool ChildProcess::readOutput(std::string& out, std::size_t maxBytes) {
    if (!impl_->output) return false;
    char buf[4096];
    bool fits = true;
    for (;;) {
        DWORD n = 0;
        // The end of the pipe (the child and every copy of its end closed) ends the read.
        if (!ReadFile(impl_->output.get(), buf, sizeof buf, &n, nullptr) || n == 0) break;
        fits = detail::appendOutput(out, buf, n, maxBytes) && fits;
    }
    SecureZeroMemory(buf, sizeof buf);
    impl_->output.reset();
    return fits;
}

std::optional<int> ChildProcess::waitFor(std::chrono::milliseconds limit) {
    const auto ms = limit.count() < 0 ? 0 : limit.count() >= INFINITE ? INFINITE - 1 : limit.count();
    if (WaitForSingleObject(impl_->process.get(), static_cast<DWORD>(ms)) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    if (!GetExitCodeProcess(impl_->process.get(), &code)) return -1;
    // TerminateProcess gives the code it was told; a crash gives an NTSTATUS.
    return code > 255 ? -1 : static_cast<int>(code);
}

int ChildProcess::wait() {
    WaitForSingleObject(impl_->process.get(), INFINITE);
    return waitFor(std::chrono::milliseconds(0)).value_or(-1);
}

void ChildProcess::kill() {
    // 259 (STILL_ACTIVE) is never used, so that a killed child reads as not ended normally.
    TerminateProcess(impl_->process.get(), 0xDEAD);
}

long ChildProcess::id() const { return static_cast<long>(impl_->pid); }

}  // namespace zelvo
