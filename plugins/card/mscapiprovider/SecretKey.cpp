#include "mscapiprovider/SecretKey.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstring>

#include "base/AppException.h"
#include "mscapiprovider/MSCAPIProvider.h"
#include "mscapiprovider/OpenSslError.h"

namespace mscapiprovider {

namespace {
const char* const kFunction = "mscapiprovider::SecretKey::getInstance";
const char* const kMessage = "No se ha importado la clave";
}  // namespace

std::unique_ptr<SecretKey> SecretKey::getInstance(const Bytes& key, uint32_t algorithm) {
    return getInstance(key.data(), key.size(), algorithm);
}

std::unique_ptr<SecretKey> SecretKey::getInstance(const uint8_t* key, size_t length, uint32_t algorithm) {
    const MSCAPIProvider& provider = MSCAPIProvider::getInstance();
    std::unique_ptr<SecretKey> k(new SecretKey(algorithm));
    if (algorithm == CALG_3DES && length == 24) {
        std::memcpy(k->tripleKey_, key, 24);
    } else if (algorithm == CALG_3DES && length == 16) {
        std::memcpy(k->tripleKey_, key, 16);
        std::memcpy(k->tripleKey_ + 16, key, 8);
    } else if (algorithm == CALG_DES && length == 8) {
        for (int i = 0; i < 3; ++i) std::memcpy(k->tripleKey_ + 8 * i, key, 8);
    } else {
        APP_THROW(kFunction, "key.size", kMessage);
    }
    // Proves the key usable now rather than at its first use.
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    bool ok = ctx != nullptr &&
              EVP_EncryptInit_ex(ctx, static_cast<const EVP_CIPHER*>(provider.tripleDesCbc()), nullptr,
                                 k->tripleKey_, nullptr) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok) CRYPTO_FAIL(kFunction, "EVP_EncryptInit_ex", kMessage);
    return k;
}

SecretKey::~SecretKey() { OPENSSL_cleanse(tripleKey_, sizeof tripleKey_); }

}  // namespace mscapiprovider
