#include "Output.h"

#include <windows.h>

namespace zelvo::ui {

namespace {

bool writeAll(DWORD stream, const char* data, std::size_t size) {
    HANDLE handle = GetStdHandle(stream);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
    while (size > 0) {
        DWORD chunk = size > 0x10000 ? 0x10000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(handle, data, chunk, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

}  // namespace

bool writeOutput(const char* data, std::size_t size) { return writeAll(STD_OUTPUT_HANDLE, data, size); }

void writeError(const std::string& text) { writeAll(STD_ERROR_HANDLE, text.data(), text.size()); }

}  // namespace zelvo::ui
