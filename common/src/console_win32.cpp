#include "zelvo/console.h"

#include <windows.h>

#include <cstdio>

namespace zelvo {

// The records are UTF-8 bytes; the console shows them as such only in code page 65001.
void prepareConsoleForText() { SetConsoleOutputCP(CP_UTF8); }

void openOwnConsole() {
    // A process that has one already keeps it (AllocConsole then fails).
    AllocConsole();
    std::FILE* ignored = nullptr;
    freopen_s(&ignored, "CONIN$", "r", stdin);
    freopen_s(&ignored, "CONOUT$", "w", stdout);
    freopen_s(&ignored, "CONOUT$", "w", stderr);
}

}  // namespace zelvo
