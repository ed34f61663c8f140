#pragma once
// The local calendar time, the same call on both systems.
#include <ctime>
#include <string>

namespace zelvo {

std::tm localTime(std::time_t when);
// strftime of the local time now, e.g. "%Y%m%d-%H%M%S".
std::string localTimeText(const char* format);

}  // namespace zelvo
