#include "zelvo/utf16.h"

#include <windows.h>

#include <climits>

namespace zelvo {

std::optional<std::wstring> toUtf16(const std::string& text) {
    if (text.empty()) return std::wstring();
    if (text.size() > INT_MAX) return std::nullopt;
    const int size = static_cast<int>(text.size());
    int needed = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (needed <= 0) return std::nullopt;
    std::wstring out(static_cast<size_t>(needed), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, out.data(), needed) != needed)
        return std::nullopt;
    return out;
}

namespace {

std::optional<std::string> convert(const std::wstring& text, DWORD flags) {
    if (text.empty()) return std::string();
    if (text.size() > INT_MAX) return std::nullopt;
    const int size = static_cast<int>(text.size());
    int needed = WideCharToMultiByte(CP_UTF8, flags, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return std::nullopt;
    std::string out(static_cast<size_t>(needed), '\0');
    if (WideCharToMultiByte(CP_UTF8, flags, text.data(), size, out.data(), needed, nullptr, nullptr) != needed)
        return std::nullopt;
    return out;
}

}  // namespace

std::optional<std::string> toUtf8(const std::wstring& text) { return convert(text, WC_ERR_INVALID_CHARS); }

std::string toUtf8Lossy(const std::wstring& text) { return convert(text, 0).value_or(std::string()); }

}  // namespace zelvo
