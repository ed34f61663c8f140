#pragma once
#include <optional>
#include <string>

namespace zelvo::ui {

// UTF-8 inside, UTF-16 only at the Win32 call.
// The UTF-16 form of UTF-8 text (bytes that are not UTF-8 become U+FFFD).
std::wstring widen(const std::string& text);
// The UTF-8 form of UTF-16 text; none when it is not well-formed (a lone surrogate).
std::optional<std::string> narrow(const wchar_t* text, std::size_t size);

}  // namespace zelvo::ui
