#include "base/Bytes.h"

#include <openssl/crypto.h>

std::string toHex(const Bytes& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

void wipe(Bytes& secret) {
    // Growing to the capacity never moves the block; the bytes a shrink left
    // behind are then overwritten too.
    secret.resize(secret.capacity());
    if (!secret.empty()) OPENSSL_cleanse(secret.data(), secret.size());
    secret.clear();
}
