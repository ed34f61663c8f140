#include "mscapiprovider/MessageDigest.h"

#include <openssl/evp.h>

#include "base/AppException.h"
#include "mscapiprovider/MSCAPIProvider.h"
#include "mscapiprovider/OpenSslError.h"

namespace mscapiprovider {

namespace {
EVP_MD_CTX* ctxOf(void* p) { return static_cast<EVP_MD_CTX*>(p); }
}  // namespace

std::unique_ptr<MessageDigest> MessageDigest::getInstance(uint32_t algorithm) {
    static const char* const kFunction = "mscapiprovider::MessageDigest::getInstance";
    static const char* const kMessage = "No se ha iniciado el hash";
    const MSCAPIProvider& provider = MSCAPIProvider::getInstance();
    if (algorithm != CALG_SHA1) APP_THROW(kFunction, "algorithm", kMessage);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (ctx == nullptr) CRYPTO_FAIL(kFunction, "EVP_MD_CTX_new", kMessage);
    std::unique_ptr<MessageDigest> md(new MessageDigest(ctx));
    if (EVP_DigestInit_ex(ctx, static_cast<const EVP_MD*>(provider.sha1()), nullptr) != 1)
        CRYPTO_FAIL(kFunction, "EVP_DigestInit_ex", kMessage);
    return md;
}

MessageDigest::~MessageDigest() {
    EVP_MD_CTX_free(ctxOf(context_));
    // The digest of a key seed is key material.
    wipe(value_);
}

void MessageDigest::update(const Bytes& data) { update(data.data(), data.size()); }

void MessageDigest::update(const uint8_t* data, size_t length) {
    static const char* const kFunction = "mscapiprovider::MessageDigest::update";
    static const char* const kMessage = "No se puede actualizar el hash";
    if (finished_) APP_THROW(kFunction, "finished", kMessage);
    if (length > 0 && EVP_DigestUpdate(ctxOf(context_), data, length) != 1)
        CRYPTO_FAIL(kFunction, "EVP_DigestUpdate", kMessage);
}

Bytes MessageDigest::digest() {
    static const char* const kFunction = "mscapiprovider::MessageDigest::digest";
    if (finished_) return value_;
    int size = EVP_MD_CTX_get_size(ctxOf(context_));
    if (size <= 0) CRYPTO_FAIL(kFunction, "EVP_MD_CTX_get_size", "No se ha obtenido el tamaño del hash");
    Bytes out(static_cast<size_t>(size));
    unsigned int written = 0;
    if (EVP_DigestFinal_ex(ctxOf(context_), out.data(), &written) != 1 || written != out.size())
        CRYPTO_FAIL(kFunction, "EVP_DigestFinal_ex", "No se ha obtenido el hash");
    finished_ = true;
    value_ = out;
    return out;
}

Bytes sha1(const Bytes& data) {
    std::unique_ptr<MessageDigest> md = MessageDigest::getInstance(CALG_SHA1);
    md->update(data);
    return md->digest();
}

}  // namespace mscapiprovider
