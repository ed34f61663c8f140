#pragma once
// Block encryption or decryption under a SecretKey: CBC with an all-zero vector,
// each call starting afresh.
#include <memory>

#include "base/Bytes.h"

namespace mscapiprovider {

class SecretKey;

class Cipher {
public:
    enum Direction { ENCRYPT = 1, DECRYPT = 2 };
    // The key must outlive the cipher.
    static std::unique_ptr<Cipher> getInstance(const SecretKey& key, int direction);

    // In the cipher's direction, with PKCS#5 padding: encryption adds 1 to 8
    // bytes (a whole block for block-aligned input), decryption checks and strips them.
    Bytes doFinal(const Bytes& input) const;
    // In the cipher's direction, without padding: the input must be whole
    // blocks and the output has its length. What the card protocols use.
    Bytes doFinalNoPadding(const Bytes& input) const;

    Bytes doEncryption(const Bytes& input) const;
    Bytes doDecryption(const Bytes& input) const;

    int direction() const { return direction_; }

private:
    Cipher(const SecretKey& key, int direction) : key_(key), direction_(direction) {}
    Bytes run(const Bytes& input, bool encrypt, bool padding) const;
    const SecretKey& key_;
    int direction_;
};

}  // namespace mscapiprovider
