#include "zelvo/system_error.h"

#include "zelvo/utf16.h"

#include <windows.h>

namespace zelvo {

std::string systemErrorText(unsigned long code) {
    if (code == 0) return "";
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(code), LANG_USER_DEFAULT, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || !buffer) return "";
    std::wstring text(buffer, length);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
    return toUtf8Lossy(text);
}

unsigned long lastSystemError() { return GetLastError(); }

}  // namespace zelvo
