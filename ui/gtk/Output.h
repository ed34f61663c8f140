#pragma once
#include <cstddef>

namespace zelvo::ui {

// Writes the whole answer straight to a descriptor, past stdio, so that no
// library buffer keeps a copy of it. False when the reader went away.
bool writeAll(int fd, const char* data, std::size_t size);

}  // namespace zelvo::ui
