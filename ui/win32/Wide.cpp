#include "Wide.h"

#include <climits>
#include <windows.h>

namespace zelvo::ui {

std::wstring widen(const std::string& text) {
    if (text.empty() || text.size() > INT_MAX) return {};
    int size = static_cast<int>(text.size());
    int needed = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    if (needed <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, &wide[0], needed);
    return wide;
}

std::optional<std::string> narrow(const wchar_t* text, std::size_t size) {
    if (size == 0) return std::string();
    if (size > INT_MAX / 4) return std::nullopt;
    int length = static_cast<int>(size);
    int needed = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return std::nullopt;
    std::string out(static_cast<std::size_t>(needed), '\0');
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, length, &out[0], needed, nullptr, nullptr) != needed)
        return std::nullopt;
    return out;
}

}  // namespace zelvo::ui
