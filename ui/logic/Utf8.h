#pragma once
#include <cstddef>
#include <string>

namespace zelvo::ui {

// The text with every byte that is not part of a well-formed UTF-8 sequence
// replaced by U+FFFD, so that arguments of any origin can be shown.
std::string validUtf8(const std::string& text);
// Number of characters (code points) of well-formed UTF-8 text; a stray byte counts as one.
std::size_t utf8Length(const std::string& text);

}  // namespace zelvo::ui
