#pragma once
// Windows only: UTF-8 inside, UTF-16 at every Win32 call. A conversion that
// fails is an error for the caller, never a question mark in a file name.
#include <optional>
#include <string>

namespace zelvo {

// None when `text` is not UTF-8.
std::optional<std::wstring> toUtf16(const std::string& text);
// None when `text` holds an unpaired surrogate.
std::optional<std::string> toUtf8(const std::wstring& text);
// For the system's own texts that are shown whatever they hold: U+FFFD for what
// cannot be converted.
std::string toUtf8Lossy(const std::wstring& text);

}  // namespace zelvo
