#pragma once
// The system's own words for an error code: strerror on POSIX, FormatMessageW
// (the system table, the user's language) on Windows, where the Parts ask for
// "the system's message".
#include <string>

namespace zelvo {

// The text of `code`, without a trailing line break; "" for 0.
std::string systemErrorText(unsigned long code);
// The calling thread's last error (errno, GetLastError) as a number.
unsigned long lastSystemError();

}  // namespace zelvo
