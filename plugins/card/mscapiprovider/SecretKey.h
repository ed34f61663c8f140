#pragma once
// A DES or two-key triple-DES key, imported as given (parity bits untouched).
#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/Bytes.h"

namespace mscapiprovider {

class SecretKey {
public:
    // CALG_3DES takes 24 bytes (K1 K2 K3) or 16 (K1 K2, K3 = K1); CALG_DES takes 8.
    static std::unique_ptr<SecretKey> getInstance(const Bytes& key, uint32_t algorithm);
    static std::unique_ptr<SecretKey> getInstance(const uint8_t* key, size_t length, uint32_t algorithm);
    ~SecretKey();
    SecretKey(const SecretKey&) = delete;
    SecretKey& operator=(const SecretKey&) = delete;

    uint32_t algorithm() const { return algorithm_; }
    // The three DES keys in triple-DES order; single DES repeats its key.
    const uint8_t* tripleKey() const { return tripleKey_; }

private:
    explicit SecretKey(uint32_t algorithm) : algorithm_(algorithm) {}
    uint32_t algorithm_;
    uint8_t tripleKey_[24] = {};
};

}  // namespace mscapiprovider
