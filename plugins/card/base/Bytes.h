#pragma once
// The byte buffer the whole card stack passes around: APDUs, keys, cryptograms
// and file contents, owned by value.
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Lower-case hexadecimal without separators (logs and test messages).
std::string toHex(const Bytes& bytes);

// Overwrites every byte the buffer has taken, its spare capacity included, in a
// way the compiler cannot leave out, then empties it (PINs, keys, key seeds).
void wipe(Bytes& secret);

// Wipes a buffer when the scope ends, however it ends.
class WipeOnExit {
public:
    explicit WipeOnExit(Bytes& secret) : secret_(secret) {}
    ~WipeOnExit() { wipe(secret_); }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

private:
    Bytes& secret_;
};
