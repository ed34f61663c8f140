#include "zelvo/console.h"

#include <windows.h>

#include <cstdio>

namespace zelvo {

void prepareConsoleForText() {
    // The records are UTF-8 bytes; the console shows them as such only in code page 65001.
    SetConsoleOutputCP(CP_UTF8);
    // Coloured lines use the terminal sequences of the Linux build; consoles
    // without them (before Windows 10) refuse the mode and print them as text.
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out && out != INVALID_HANDLE_VALUE && GetConsoleMode(out, &mode))
        SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

void openOwnConsole() {
    // A process that has one already keeps it (AllocConsole then fails).
    AllocConsole();
    std::FILE* ignored = nullptr;
    freopen_s(&ignored, "CONIN$", "r", stdin);
    freopen_s(&ignored, "CONOUT$", "w", stdout);
    freopen_s(&ignored, "CONOUT$", "w", stderr);
}

bool stdoutIsConsole() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return out && out != INVALID_HANDLE_VALUE && GetConsoleMode(out, &mode);
}

}  // namespace zelvo
