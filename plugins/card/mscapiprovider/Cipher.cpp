#include "mscapiprovider/Cipher.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include "base/AppException.h"
#include "mscapiprovider/MSCAPIProvider.h"
#include "mscapiprovider/OpenSslError.h"
#include "mscapiprovider/SecretKey.h"

namespace mscapiprovider {

std::unique_ptr<Cipher> Cipher::getInstance(const SecretKey& key, int direction) {
    if (direction != ENCRYPT && direction != DECRYPT)
        APP_THROW("mscapiprovider::Cipher::getInstance", "direction", "Dirección de cifrado no válida");
    return std::unique_ptr<Cipher>(new Cipher(key, direction));
}

Bytes Cipher::doFinal(const Bytes& input) const {
    return direction_ == ENCRYPT ? doEncryption(input) : doDecryption(input);
}

Bytes Cipher::doFinalNoPadding(const Bytes& input) const { return run(input, direction_ == ENCRYPT, false); }

Bytes Cipher::doEncryption(const Bytes& input) const { return run(input, true, true); }

Bytes Cipher::doDecryption(const Bytes& input) const { return run(input, false, true); }

Bytes Cipher::run(const Bytes& input, bool encrypt, bool padding) const {
    const char* function = encrypt ? "mscapiprovider::Cipher::doEncryption" : "mscapiprovider::Cipher::doDecryption";
    const char* message = encrypt ? "No se obtuvo la cadena encriptada" : "No se obtuvo la cadena desencriptada";
    const MSCAPIProvider& provider = MSCAPIProvider::getInstance();
    static const uint8_t kZeroIv[8] = {};
    std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    if (!ctx) CRYPTO_FAIL(function, "EVP_CIPHER_CTX_new", message);
    if (EVP_CipherInit_ex(ctx.get(), static_cast<const EVP_CIPHER*>(provider.tripleDesCbc()), nullptr,
                          key_.tripleKey(), kZeroIv, encrypt ? 1 : 0) != 1)
        CRYPTO_FAIL(function, "EVP_CipherInit_ex", message);
    EVP_CIPHER_CTX_set_padding(ctx.get(), padding ? 1 : 0);
    if (input.size() > 0x7ffffff0) APP_THROW(function, "input.size", message);
    Bytes out(input.size() + 8);
    int written = 0;
    int last = 0;
    if (EVP_CipherUpdate(ctx.get(), out.data(), &written, input.data(), static_cast<int>(input.size())) != 1) {
        OPENSSL_cleanse(out.data(), out.size());
        CRYPTO_FAIL(function, "EVP_CipherUpdate", message);
    }
    if (EVP_CipherFinal_ex(ctx.get(), out.data() + written, &last) != 1) {
        OPENSSL_cleanse(out.data(), out.size());
        CRYPTO_FAIL(function, "EVP_CipherFinal_ex", message);
    }
    out.resize(static_cast<size_t>(written + last));
    return out;
}

}  // namespace mscapiprovider
