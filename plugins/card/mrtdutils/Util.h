#pragma once
// ICAO Doc 9303 key derivation for Basic Access Control, and the ISO/IEC 9797-1
// padding method 2 used by it and by secure messaging.
#include <cstdint>
#include <string>

#include "base/Bytes.h"

namespace mrtdutils {

class Util {
public:
    // Appends 80 and then 00 up to a multiple of 8 (at least one byte is added).
    static Bytes pad(const Bytes& in);
    // Removes trailing 00 bytes and the 80 before them; throws when there is no 80.
    static Bytes unpad(const Bytes& in);
    // First 16 bytes of SHA-1 over the three fields, each followed by its check digit.
    static Bytes computeKeySeed(const std::string& documentNumber, const std::string& dateOfBirth,
                                const std::string& dateOfExpiry);
    // SHA-1(kSeed || counter as 4 big-endian bytes): bytes 0-7, 8-15, 0-7 (K1 K2 K1).
    // Counter 1 gives the encryption key, 2 the MAC key.
    static Bytes deriveKey(const Bytes& kSeed, uint32_t counter);
    // rndICC bytes 4-7 followed by rndIFD bytes 4-7, big-endian; both must be 8 bytes.
    static uint64_t computeSendSequenceCounter(const Bytes& rndICC, const Bytes& rndIFD);
};

}  // namespace mrtdutils
