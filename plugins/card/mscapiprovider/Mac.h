#pragma once
// ISO/IEC 9797-1 MAC algorithm 3 (the retail MAC) with DES and a zero vector.
#include "base/Bytes.h"

namespace mscapiprovider {

// key: 24 bytes K1 K2 K3; data: already padded, a non-empty multiple of 8 bytes.
// Returns the 8-byte MAC.
Bytes computeMac(const Bytes& key, const Bytes& data);

}  // namespace mscapiprovider
