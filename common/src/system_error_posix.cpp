#include "zelvo/system_error.h"

#include <cerrno>
#include <cstring>

namespace zelvo {

std::string systemErrorText(unsigned long code) {
    if (code == 0) return "";
    char buffer[256] = {};
    // The GNU variant may return a static text instead of filling the buffer.
    const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    return text ? text : "";
}

unsigned long lastSystemError() { return static_cast<unsigned long>(errno); }

}  // namespace zelvo
