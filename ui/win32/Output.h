#pragma once
#include <cstddef>
#include <string>

namespace zelvo::ui {

// Writes the whole answer straight to standard output as raw bytes (no CR added,
// no library buffer keeping a copy). False when there is no reader.
bool writeOutput(const char* data, std::size_t size);
// A line for whoever started us, on standard error, as UTF-8.
void writeError(const std::string& text);

}  // namespace zelvo::ui
