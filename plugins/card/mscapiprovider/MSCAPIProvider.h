#pragma once
// The process-wide crypto context behind keys, ciphers and digests, and the
// settings it is acquired with. The context comes from OpenSSL's libcrypto; the
// settings keep the names the plug-in has always stored.
#include <cstdint>
#include <string>

namespace mscapiprovider {

// Algorithm identifiers the card protocols use.
constexpr uint32_t CALG_DES = 0x6601;
constexpr uint32_t CALG_3DES = 0x6603;
constexpr uint32_t CALG_SHA1 = 0x8004;

struct ProviderSettings {
    std::string container;  // empty: none
    std::string provider;
    uint32_t providerType = 0;
    uint32_t flags = 0;
};

class MSCAPIProvider {
public:
    // Text settings: "container", "provider". Other keys are ignored.
    static void setProperty(const std::string& key, const std::string& value);
    // Integer settings: "providerType", "flags". Other keys are ignored.
    static void setProperty(const std::string& key, uint32_t value);
    static const ProviderSettings& settings();

    // Acquires the context on the first call (a failed acquisition is tried again
    // on the next call) and returns it; throws AppException when it cannot.
    static const MSCAPIProvider& getInstance();

    // Opaque algorithm handles for the library's own sources.
    const void* tripleDesCbc() const { return cipher_; }
    const void* sha1() const { return digest_; }

    ~MSCAPIProvider();
    MSCAPIProvider(const MSCAPIProvider&) = delete;
    MSCAPIProvider& operator=(const MSCAPIProvider&) = delete;

private:
    MSCAPIProvider(void* cipher, void* digest) : cipher_(cipher), digest_(digest) {}
    void* cipher_;
    void* digest_;
};

}  // namespace mscapiprovider
