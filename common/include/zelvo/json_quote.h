#pragma once

#include <string>
#include <string_view>

namespace zelvo {

// `text` as a JSON string, written so that a person can read it: only the quote,
// the backslash and control characters escaped (picojson would write "https:\/\/").
std::string jsonQuoted(std::string_view text);

}  // namespace zelvo
