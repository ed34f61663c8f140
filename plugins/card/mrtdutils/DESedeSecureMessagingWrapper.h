#pragma once
// Secure messaging of ICAO Doc 9303 Basic Access Control: two-key triple DES for
// the data, the retail MAC for integrity, both chained by the send sequence counter.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/Bytes.h"
#include "mrtdutils/CommandAPDU.h"

namespace mscapiprovider {
class Cipher;
class SecretKey;
}  // namespace mscapiprovider

namespace mrtdutils {

class DESedeSecureMessagingWrapper {
public:
    // kSEnc and kSMac: 24 bytes each (K1 K2 K1); ssc: the counter after BAC.
    static std::unique_ptr<DESedeSecureMessagingWrapper> getInstance(const Bytes& kSEnc, const Bytes& kSMac,
                                                                      uint64_t ssc);
    ~DESedeSecureMessagingWrapper();
    DESedeSecureMessagingWrapper(const DESedeSecureMessagingWrapper&) = delete;
    DESedeSecureMessagingWrapper& operator=(const DESedeSecureMessagingWrapper&) = delete;

    // The protected form of `command`; the counter rises by one.
    CommandAPDU wrapCommandAPDU(const CommandAPDU& command);
    // The card's protected answer opened: data followed by the card's SW1 SW2.
    // The counter rises by one when the answer's MAC is checked, whatever the outcome.
    Bytes unwrap(const uint8_t* rapdu, size_t length);

    uint64_t getSendSequenceCounter() const { return ssc_; }

    // BER-TLV length: one byte under 128, else 80+n and n big-endian bytes.
    static Bytes encodeLength(size_t length);

private:
    DESedeSecureMessagingWrapper(const Bytes& kSMac, uint64_t ssc);

    // Where the protected answer's objects lie inside it.
    struct ResponseObjects;
    Bytes unwrapResponseAPDU(const uint8_t* rapdu, size_t length);
    static void readDO87(const uint8_t* rapdu, size_t length, size_t& pos, bool indicator, ResponseObjects& out);
    static void readDO99(const uint8_t* rapdu, size_t length, size_t& pos, ResponseObjects& out);
    static void readDO8E(const uint8_t* rapdu, size_t length, size_t& pos, ResponseObjects& out);
    bool checkMac(const uint8_t* rapdu, size_t macInputLength, const Bytes& cc);
    Bytes sscBytes() const;

    Bytes kSMac_;
    uint64_t ssc_;
    std::unique_ptr<mscapiprovider::SecretKey> key_;
    std::unique_ptr<mscapiprovider::Cipher> encrypter_;
    std::unique_ptr<mscapiprovider::Cipher> decrypter_;
};

}  // namespace mrtdutils
