#include "zelvo/local_time.h"

namespace zelvo {

std::tm localTime(std::time_t when) {
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &when);
#else
    localtime_r(&when, &tm);
#endif
    return tm;
}

std::string localTimeText(const char* format) {
    const std::tm tm = localTime(std::time(nullptr));
    char buffer[64];
    const size_t n = std::strftime(buffer, sizeof buffer, format, &tm);
    return std::string(buffer, n);
}

}  // namespace zelvo
