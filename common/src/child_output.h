#pragma once
// Private to common: what a child wrote, collected into a string that may hold
// a secret (the PIN dialog's answer).
#include <cstddef>
#include <string>

namespace zelvo::detail {

// Appends at most what fits below `maxBytes`; false when some was dropped. The
// string grows by hand, wiping the old buffer, so that no copy of what it held
// is left in freed memory.
bool appendOutput(std::string& out, const char* bytes, std::size_t count, std::size_t maxBytes);

}  // namespace zelvo::detail
