#include "mrtdutils/Util.h"

#include <algorithm>

#include "base/AppException.h"
#include "mrtdutils/MRZInfo.h"
#include "mscapiprovider/MSCAPIProvider.h"
#include "mscapiprovider/MessageDigest.h"
#include "zelvo/log.h"

namespace mrtdutils {

Bytes Util::pad(const Bytes& in) {
    // One block, at its final size: the data may be a command's plaintext.
    Bytes out(in.size() + 8 - in.size() % 8, 0x00);
    std::copy(in.begin(), in.end(), out.begin());
    out[in.size()] = 0x80;
    return out;
}

Bytes Util::unpad(const Bytes& in) {
    size_t i = in.size();
    while (i > 0 && in[i - 1] == 0x00) --i;
    if (i == 0 || in[i - 1] != 0x80)
        APP_THROW("mrtdutils::Util::unpad", "(in[i] & 0xFF) != 0x80", "Expected constant 0x80");
    return Bytes(in.begin(), in.begin() + static_cast<long>(i - 1));
}

Bytes Util::computeKeySeed(const std::string& documentNumber, const std::string& dateOfBirth,
                           const std::string& dateOfExpiry) {
    LOG_INFO("mrtdutils::Util::computeKeySeed") << "Calculando keyseed";
    auto md = mscapiprovider::MessageDigest::getInstance(mscapiprovider::CALG_SHA1);
    for (const std::string* field : {&documentNumber, &dateOfBirth, &dateOfExpiry}) {
        std::string withDigit = *field + MRZInfo::checkDigit(*field);
        md->update(reinterpret_cast<const uint8_t*>(withDigit.data()), withDigit.size());
    }
    Bytes digest = md->digest();
    Bytes seed(digest.begin(), digest.begin() + 16);
    wipe(digest);
    return seed;
}

Bytes Util::deriveKey(const Bytes& kSeed, uint32_t counter) {
    LOG_INFO("mrtdutils::Util::deriveKey") << "Ejecutando derivekey";
    auto md = mscapiprovider::MessageDigest::getInstance(mscapiprovider::CALG_SHA1);
    md->update(kSeed);
    const uint8_t c[4] = {static_cast<uint8_t>(counter >> 24), static_cast<uint8_t>(counter >> 16),
                          static_cast<uint8_t>(counter >> 8), static_cast<uint8_t>(counter)};
    md->update(c, sizeof c);
    Bytes d = md->digest();
    Bytes key(24);
    for (size_t i = 0; i < 24; ++i) key[i] = d[i < 16 ? i : i - 16];
    wipe(d);
    return key;
}

uint64_t Util::computeSendSequenceCounter(const Bytes& rndICC, const Bytes& rndIFD) {
    if (rndICC.size() != 8 || rndIFD.size() != 8)
        APP_THROW("mrtdutils::Util::computeSendSequenceCounter", "computeSendSequenceCounter",
                  "IllegalStateException: Wrong length input");
    uint64_t ssc = 0;
    for (int i = 4; i < 8; ++i) ssc = ssc << 8 | rndICC[i];
    for (int i = 4; i < 8; ++i) ssc = ssc << 8 | rndIFD[i];
    return ssc;
}

}  // namespace mrtdutils
