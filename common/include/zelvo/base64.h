#pragma once
#include <string>

namespace zelvo {

// Standard alphabet, '=' padding.
std::string base64Encode(const std::string& bytes);
// Decoding stops at the first '=' or at the first character outside the alphabet;
// a final group of two or three characters gives one or two bytes, a single
// leftover character gives nothing.
std::string base64Decode(const std::string& text);

}  // namespace zelvo
