#include "mscapiprovider/MSCAPIProvider.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <memory>

#include "base/AppException.h"
#include "mscapiprovider/Libcrypto.h"
#include "mscapiprovider/OpenSslError.h"

namespace mscapiprovider {
namespace {

ProviderSettings& store() {
    static ProviderSettings s;
    return s;
}

// Owned here, created on first use, released with the library. Only the command
// thread uses the crypto services, so no lock guards it.
std::unique_ptr<MSCAPIProvider>& instance() {
    static std::unique_ptr<MSCAPIProvider> p;
    return p;
}

}  // namespace

void raiseCryptoFailure(const char* function, int line, const char* condition, const char* message) {
    unsigned long code = ERR_get_error();
    char text[256] = "";
    if (code != 0) ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    raisePlatformException(function, line, condition, message, text, static_cast<int32_t>(code),
                           CodeFormat::decimal);
}

void MSCAPIProvider::setProperty(const std::string& key, const std::string& value) {
    if (key == "container") store().container = value;
    else if (key == "provider") store().provider = value;
}

void MSCAPIProvider::setProperty(const std::string& key, uint32_t value) {
    if (key == "providerType") store().providerType = value;
    else if (key == "flags") store().flags = value;
}

const ProviderSettings& MSCAPIProvider::settings() { return store(); }

const MSCAPIProvider& MSCAPIProvider::getInstance() {
    static const char* const kFunction = "mscapiprovider::MSCAPIProvider::getInstance";
    // Before the context's holder exists, so that the context goes first.
    if (!startLibcrypto())
        CRYPTO_FAIL(kFunction, "OPENSSL_init_crypto", "No se ha iniciado el contexto criptográfico");
    std::unique_ptr<MSCAPIProvider>& p = instance();
    if (p) return *p;
    // libcrypto's default provider holds triple DES (single DES runs as triple
    // DES with three equal keys) and SHA-1; the stored CryptoAPI names have no
    // counterpart there and select nothing.
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "DES-EDE3-CBC", nullptr);
    if (cipher == nullptr)
        CRYPTO_FAIL(kFunction, "EVP_CIPHER_fetch", "No se ha iniciado el contexto criptográfico");
    EVP_MD* digest = EVP_MD_fetch(nullptr, "SHA1", nullptr);
    if (digest == nullptr) {
        EVP_CIPHER_free(cipher);
        CRYPTO_FAIL(kFunction, "EVP_MD_fetch", "No se ha iniciado el contexto criptográfico");
    }
    p.reset(new MSCAPIProvider(cipher, digest));
    return *p;
}

MSCAPIProvider::~MSCAPIProvider() {
    EVP_CIPHER_free(static_cast<EVP_CIPHER*>(cipher_));
    EVP_MD_free(static_cast<EVP_MD*>(digest_));
}

}  // namespace mscapiprovider
