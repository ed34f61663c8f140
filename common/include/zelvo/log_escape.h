#pragma once
// Text from outside (a request, a header, a card command, a file name) may hold
// anything; a log record that quotes it must still be one line that says what
// it held. Control characters become \n, \r, \t or \xNN, the backslash is
// doubled, bytes that are not UTF-8 become \xNN; valid UTF-8 (accents) stays.
#include <string>
#include <string_view>

namespace zelvo {

std::string escapeForLog(std::string_view text);

}  // namespace zelvo
