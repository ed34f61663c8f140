#pragma once
// One run of ICAO Doc 9303 Basic Access Control from the terminal's side: the
// terminal's random values, the cryptogram for EXTERNAL AUTHENTICATE, the check
// of the card's answer and the session keys derived from it.
#include <cstdint>
#include <memory>
#include <string>

#include "base/Bytes.h"

namespace mscapiprovider {
class Cipher;
class SecretKey;
}  // namespace mscapiprovider

namespace vexaldscore {

class VexaBac {
public:
    // The three MRZ fields as printed (fillers kept) and the card's 8-byte challenge.
    // Draws the terminal's random values and builds the cryptogram.
    static std::unique_ptr<VexaBac> getInstance(const std::string& documentNumber, const std::string& dateOfBirth,
                                                const std::string& dateOfExpiry, const Bytes& rndICC);
    // Fixed terminal values instead of random ones (known-answer tests).
    static std::unique_ptr<VexaBac> getInstance(const std::string& documentNumber, const std::string& dateOfBirth,
                                                const std::string& dateOfExpiry, const Bytes& rndICC,
                                                const Bytes& rndIFD, const Bytes& kIFD);
    ~VexaBac();
    VexaBac(const VexaBac&) = delete;
    VexaBac& operator=(const VexaBac&) = delete;

    // E.IFD || M.IFD, 40 bytes.
    const Bytes& getCryptogram() const { return cryptogram_; }
    // The card's whole answer to EXTERNAL AUTHENTICATE (E.ICC, M.ICC, SW1 SW2).
    // Refuses an answer whose MAC or copy of RND.IFD is wrong; then derives the
    // session keys and the send sequence counter.
    void doBac(const Bytes& response);

    const Bytes& getKSEnc() const { return kSEnc_; }
    const Bytes& getKSMac() const { return kSMac_; }
    uint64_t getSsc() const { return ssc_; }

private:
    VexaBac() = default;
    void createCryptogram();

    Bytes rndICC_;
    Bytes rndIFD_;
    Bytes kIFD_;
    Bytes kEnc_;
    Bytes kMac_;
    Bytes cryptogram_;
    Bytes kSEnc_;
    Bytes kSMac_;
    uint64_t ssc_ = 0;
    std::unique_ptr<mscapiprovider::SecretKey> key_;
    std::unique_ptr<mscapiprovider::Cipher> encrypter_;
    std::unique_ptr<mscapiprovider::Cipher> decrypter_;
};

}  // namespace vexaldscore
