#pragma once
// The byte buffer the whole card stack passes around: APDUs, keys, cryptograms
// and file contents, owned by value.
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Lower-case hexadecimal without separators (logs and test messages).
std::string toHex(const Bytes& bytes);
