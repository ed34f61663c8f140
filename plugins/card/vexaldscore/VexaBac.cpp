#include "vexaldscore/VexaBac.h"

#include <openssl/crypto.h>

#include <algorithm>

#include "base/AppException.h"
#include "mrtdutils/Util.h"
#include "mscapiprovider/Cipher.h"
#include "mscapiprovider/MSCAPIProvider.h"
#include "mscapiprovider/Mac.h"
#include "mscapiprovider/Random.h"
#include "mscapiprovider/SecretKey.h"
#include "zelvo/log.h"

namespace vexaldscore {

namespace {
const char* const kGetInstance = "vexaldscore::VexaBac::getInstance";
const char* const kDoBac = "vexaldscore::VexaBac::doBac";
const char* const kBadAnswer = "La tarjeta respondió a la autenticación con datos no válidos";
}  // namespace

std::unique_ptr<VexaBac> VexaBac::getInstance(const std::string& documentNumber, const std::string& dateOfBirth,
                                              const std::string& dateOfExpiry, const Bytes& rndICC) {
    LOG_INFO(kGetInstance) << "Creando instancia de vexabac";
    if (rndICC.size() != 8) APP_THROW(kGetInstance, "rndICC.size", "IllegalArgumentException: rndICC wrong length");
    // Drawn after the argument check so that a refused challenge costs nothing.
    Bytes rndIFD = mscapiprovider::Random::nextBytes(8);
    WipeOnExit rndIFDWiper(rndIFD);
    Bytes kIFD = mscapiprovider::Random::nextBytes(16);
    WipeOnExit kIFDWiper(kIFD);
    return getInstance(documentNumber, dateOfBirth, dateOfExpiry, rndICC, rndIFD, kIFD);
}

std::unique_ptr<VexaBac> VexaBac::getInstance(const std::string& documentNumber, const std::string& dateOfBirth,
                                              const std::string& dateOfExpiry, const Bytes& rndICC,
                                              const Bytes& rndIFD, const Bytes& kIFD) {
    if (rndICC.size() != 8) APP_THROW(kGetInstance, "rndICC.size", "IllegalArgumentException: rndICC wrong length");
    if (rndIFD.size() != 8 || kIFD.size() != 16)
        APP_THROW(kGetInstance, "rndIFD.size", "IllegalArgumentException: terminal random wrong length");
    std::unique_ptr<VexaBac> bac(new VexaBac());
    Bytes kSeed = mrtdutils::Util::computeKeySeed(documentNumber, dateOfBirth, dateOfExpiry);
    {
        WipeOnExit seedWiper(kSeed);
        bac->kEnc_ = mrtdutils::Util::deriveKey(kSeed, 1);
        bac->kMac_ = mrtdutils::Util::deriveKey(kSeed, 2);
    }
    bac->key_ = mscapiprovider::SecretKey::getInstance(bac->kEnc_, mscapiprovider::CALG_3DES);
    bac->encrypter_ = mscapiprovider::Cipher::getInstance(*bac->key_, mscapiprovider::Cipher::ENCRYPT);
    bac->decrypter_ = mscapiprovider::Cipher::getInstance(*bac->key_, mscapiprovider::Cipher::DECRYPT);
    bac->rndICC_ = rndICC;
    bac->rndIFD_ = rndIFD;
    bac->kIFD_ = kIFD;
    bac->createCryptogram();
    return bac;
}

VexaBac::~VexaBac() {
    decrypter_.reset();
    encrypter_.reset();
    key_.reset();
    for (Bytes* b : {&rndIFD_, &kIFD_, &kEnc_, &kMac_, &kSEnc_, &kSMac_}) wipe(*b);
}

void VexaBac::createCryptogram() {
    static const char* const kFunction = "vexaldscore::VexaBac::createCryptogram";
    LOG_INFO(kFunction) << "Creando criptograma para bac";
    // S = RND.IFD || RND.ICC || K.IFD, built at its final size.
    Bytes s(32);
    WipeOnExit sWiper(s);
    std::copy(rndIFD_.begin(), rndIFD_.end(), s.begin());
    std::copy(rndICC_.begin(), rndICC_.end(), s.begin() + 8);
    std::copy(kIFD_.begin(), kIFD_.end(), s.begin() + 16);
    Bytes e = encrypter_->doFinalNoPadding(s);
    if (e.size() != 32) APP_THROW(kFunction, "ciphertext.size", "IllegalStateException: Cryptogram wrong length");
    Bytes m = mscapiprovider::computeMac(kMac_, mrtdutils::Util::pad(e));
    if (m.size() != 8) APP_THROW(kFunction, "mactext.size", "IllegalStateException: MAC wrong length");
    cryptogram_ = e;
    cryptogram_.insert(cryptogram_.end(), m.begin(), m.end());
}

void VexaBac::doBac(const Bytes& response) {
    LOG_INFO(kDoBac) << "Ejecutando bac";
    if (response.size() < 40)
        APP_THROW(kDoBac, "cryptedCardCryptogram.size", "IllegalStateException: cryptedCardCryptogram wrong length");
    // E.ICC, then its 8-byte MAC, then the status word.
    const size_t encryptedLength = response.size() - 10;
    if (encryptedLength < 32 || encryptedLength % 8 != 0)
        APP_THROW(kDoBac, "plainCardCryptogram.size", "IllegalStateException: Cryptogram wrong length");
    Bytes encrypted(response.begin(), response.begin() + static_cast<long>(encryptedLength));
    Bytes cardMac(response.begin() + static_cast<long>(encryptedLength), response.end() - 2);

    // A wrong answer fails here, clearly, rather than as a secure-messaging
    // error on the first protected command.
    Bytes expectedMac = mscapiprovider::computeMac(kMac_, mrtdutils::Util::pad(encrypted));
    if (CRYPTO_memcmp(expectedMac.data(), cardMac.data(), 8) != 0)
        APP_THROW(kDoBac, "!checkMac(cardCryptogram)", std::string(kBadAnswer) + " (MAC)");
    Bytes r = decrypter_->doFinalNoPadding(encrypted);
    WipeOnExit rWiper(r);
    if (r.size() < 32) APP_THROW(kDoBac, "plainCardCryptogram.size", "IllegalStateException: Cryptogram wrong length");
    // R = RND.ICC || RND.IFD || K.ICC: the card must give back our challenge.
    if (CRYPTO_memcmp(r.data() + 8, rndIFD_.data(), 8) != 0)
        APP_THROW(kDoBac, "rndIFD", std::string(kBadAnswer) + " (RND.IFD)");
    Bytes seed(16);
    WipeOnExit seedWiper(seed);
    for (size_t i = 0; i < 16; ++i) seed[i] = kIFD_[i] ^ r[16 + i];
    kSEnc_ = mrtdutils::Util::deriveKey(seed, 1);
    kSMac_ = mrtdutils::Util::deriveKey(seed, 2);
    ssc_ = mrtdutils::Util::computeSendSequenceCounter(rndICC_, rndIFD_);
}

}  // namespace vexaldscore
