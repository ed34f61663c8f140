#include "zelvo/stop_signals.h"

#include <windows.h>

#include <atomic>
#include <csignal>
#include <thread>

namespace zelvo {
namespace {

std::atomic<StopHandler> g_handler{nullptr};
// How long a session's end or a console's close waits for the orderly stop
// before the system ends the process anyway.
constexpr DWORD kStopGraceMs = 5000;

void requestStop(int signalNumber) {
    if (StopHandler handler = g_handler.load()) handler(signalNumber);
}

// The system ends the process when these return: give the stop its time first
// (the process may end during the wait).
void waitForStop() { Sleep(kStopGraceMs); }

BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            requestStop(SIGINT);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            requestStop(SIGTERM);
            waitForStop();
            return TRUE;
        default:
            return FALSE;
    }
}

LRESULT CALLBACK onWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            requestStop(SIGTERM);
            return 0;
        case WM_QUERYENDSESSION:
            requestStop(SIGTERM);
            return TRUE;
        case WM_ENDSESSION:
            if (wParam) {
                requestStop(SIGTERM);
                waitForStop();
            }
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

// The window lives on a thread of its own for the life of the process: it is
// never shown, but "taskkill" and the session's end find it among the
// process's top-level windows.
void runStopWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &onWindowMessage;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"ZelvoStopWindow";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"Zelvo", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                                  nullptr, windowClass.hInstance, nullptr);
    if (!window) return;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace

struct StopHandlerKept::Saved {};

void installStopHandler(StopHandler handler) {
    const bool first = g_handler.exchange(handler) == nullptr;
    if (!first) return;
    SetConsoleCtrlHandler(&onConsoleEvent, TRUE);
    std::thread(&runStopWindow).detach();
}

StopHandlerKept::StopHandlerKept() : saved_(nullptr) {}

StopHandlerKept::~StopHandlerKept() {
    // Console handlers run last-added first: ours goes in front again.
    if (g_handler.load()) {
        SetConsoleCtrlHandler(&onConsoleEvent, FALSE);
        SetConsoleCtrlHandler(&onConsoleEvent, TRUE);
    }
}

}  // namespace zelvo
