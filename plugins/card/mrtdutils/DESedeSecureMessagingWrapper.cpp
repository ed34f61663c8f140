#include "mrtdutils/DESedeSecureMessagingWrapper.h"

#include <openssl/crypto.h>

#include "base/AppException.h"
#include "mrtdutils/Util.h"
#include "mscapiprovider/Cipher.h"
#include "mscapiprovider/MSCAPIProvider.h"
#include "mscapiprovider/Mac.h"
#include "mscapiprovider/SecretKey.h"
#include "zelvo/log.h"

namespace mrtdutils {

namespace {
const char* const kUnwrap = "mrtdutils::DESedeSecureMessagingWrapper::unwrapResponseAPDU";
const char* const kInvalidResponse = "IllegalArgumentException: Invalid response APDU";

void append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }
}  // namespace

struct DESedeSecureMessagingWrapper::ResponseObjects {
    bool hasData = false;
    size_t dataStart = 0;  // ciphertext of DO87 or DO85
    size_t dataLength = 0;
    uint16_t sw = 0;
    Bytes cc;
};

std::unique_ptr<DESedeSecureMessagingWrapper> DESedeSecureMessagingWrapper::getInstance(const Bytes& kSEnc,
                                                                                        const Bytes& kSMac,
                                                                                        uint64_t ssc) {
    LOG_INFO("mrtdutils::DESedeSecureMessagingWrapper::getInstance")
        << "Creando instancia de desedesecuremessagingwrapper";
    if (kSMac.size() != 24)
        APP_THROW("mrtdutils::DESedeSecureMessagingWrapper::getInstance", "kSMac.size", "No se ha importado la clave");
    std::unique_ptr<DESedeSecureMessagingWrapper> w(new DESedeSecureMessagingWrapper(kSMac, ssc));
    w->key_ = mscapiprovider::SecretKey::getInstance(kSEnc, mscapiprovider::CALG_3DES);
    w->encrypter_ = mscapiprovider::Cipher::getInstance(*w->key_, mscapiprovider::Cipher::ENCRYPT);
    w->decrypter_ = mscapiprovider::Cipher::getInstance(*w->key_, mscapiprovider::Cipher::DECRYPT);
    return w;
}

DESedeSecureMessagingWrapper::DESedeSecureMessagingWrapper(const Bytes& kSMac, uint64_t ssc)
    : kSMac_(kSMac), ssc_(ssc) {}

DESedeSecureMessagingWrapper::~DESedeSecureMessagingWrapper() {
    // The ciphers go before the key they use.
    encrypter_.reset();
    decrypter_.reset();
    key_.reset();
    wipe(kSMac_);
}

Bytes DESedeSecureMessagingWrapper::encodeLength(size_t length) {
    if (length < 0x80) return Bytes{static_cast<uint8_t>(length)};
    Bytes digits;
    for (size_t v = length; v != 0; v >>= 8) digits.insert(digits.begin(), static_cast<uint8_t>(v));
    Bytes out{static_cast<uint8_t>(0x80 + digits.size())};
    append(out, digits);
    return out;
}

Bytes DESedeSecureMessagingWrapper::sscBytes() const {
    Bytes out(8);
    for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(ssc_ >> (56 - 8 * i));
    return out;
}

CommandAPDU DESedeSecureMessagingWrapper::wrapCommandAPDU(const CommandAPDU& command) {
    LOG_INFO("mrtdutils::DESedeSecureMessagingWrapper::wrapCommandAPDU") << "Protegiendo comando apdu";
    const uint8_t cla = static_cast<uint8_t>(command.getCLA() | 0x0C);
    const uint8_t ins = static_cast<uint8_t>(command.getINS());
    Bytes paddedHeader =
        Util::pad({cla, ins, static_cast<uint8_t>(command.getP1()), static_cast<uint8_t>(command.getP2())});

    Bytes do97;
    const int ne = command.getNe();
    if (ne > 0 && ne <= 256) {
        do97 = {0x97, 0x01, static_cast<uint8_t>(ne == 256 ? 0 : ne)};
    } else if (ne > 256) {
        // An extended Le takes two bytes; 65536 is written 00 00.
        const int le = ne == 65536 ? 0 : ne;
        do97 = {0x97, 0x02, static_cast<uint8_t>(le >> 8), static_cast<uint8_t>(le)};
    }

    Bytes do87;
    if (command.getNc() > 0) {
        // The command's plaintext may be a PIN: no copy of it outlives the wrapping.
        Bytes plain = command.getData();
        WipeOnExit plainWiper(plain);
        Bytes padded = Util::pad(plain);
        WipeOnExit paddedWiper(padded);
        Bytes ciphertext = encrypter_->doFinalNoPadding(padded);
        if (ins == 0xB1) {
            do87 = {0x85};
            append(do87, encodeLength(ciphertext.size()));
        } else {
            do87 = {0x87};
            append(do87, encodeLength(ciphertext.size() + 1));
            do87.push_back(0x01);
        }
        append(do87, ciphertext);
    }

    ++ssc_;
    Bytes m = sscBytes();
    append(m, paddedHeader);
    append(m, do87);
    append(m, do97);
    Bytes cc = mscapiprovider::computeMac(kSMac_, Util::pad(m));

    Bytes data = do87;
    append(data, do97);
    data.push_back(0x8E);
    data.push_back(0x08);
    append(data, cc);
    return CommandAPDU(cla, ins, command.getP1(), command.getP2(), data, 256);
}

Bytes DESedeSecureMessagingWrapper::unwrap(const uint8_t* rapdu, size_t length) {
    if (rapdu != nullptr && length == 2)
        APP_THROW("mrtdutils::DESedeSecureMessagingWrapper::unwrap", "rapdu.size() == 2",
                  "Card indicates SM error, SW =");
    LOG_INFO("mrtdutils::DESedeSecureMessagingWrapper::unwrap") << "Obteniendo comando apdu de respuesta protegida";
    return unwrapResponseAPDU(rapdu, length);
}

Bytes DESedeSecureMessagingWrapper::unwrapResponseAPDU(const uint8_t* rapdu, size_t length) {
    if (rapdu == nullptr || length < 2) APP_THROW(kUnwrap, "rapdu.size() < 2 || len < 2", kInvalidResponse);
    // The objects are located first and the MAC checked before anything is
    // decrypted; the walk never goes past the bytes received.
    ResponseObjects objects;
    size_t pos = 0;
    while (pos < length) {
        const size_t tagPos = pos;
        switch (rapdu[pos++]) {
            case 0x87:
                readDO87(rapdu, length, pos, true, objects);
                break;
            case 0x85:
                readDO87(rapdu, length, pos, false, objects);
                break;
            case 0x99:
                readDO99(rapdu, length, pos, objects);
                break;
            case 0x8E: {
                readDO8E(rapdu, length, pos, objects);
                if (!checkMac(rapdu, tagPos, objects.cc))
                    APP_THROW(kUnwrap, "!checkMac(rapdu, cc)", "IllegalStateException: Invalid MAC");
                Bytes out;
                if (objects.hasData) {
                    Bytes ciphertext(rapdu + objects.dataStart, rapdu + objects.dataStart + objects.dataLength);
                    Bytes plain = decrypter_->doFinalNoPadding(ciphertext);
                    WipeOnExit plainWiper(plain);
                    out = Util::unpad(plain);
                }
                out.push_back(static_cast<uint8_t>(objects.sw >> 8));
                out.push_back(static_cast<uint8_t>(objects.sw));
                return out;
            }
            default:
                break;  // not ours: skipped
        }
    }
    APP_THROW(kUnwrap, "DO'8E missing", kInvalidResponse);
}

void DESedeSecureMessagingWrapper::readDO87(const uint8_t* rapdu, size_t length, size_t& pos, bool indicator,
                                            ResponseObjects& out) {
    static const char* const kFunction = "mrtdutils::DESedeSecureMessagingWrapper::readDO87";
    if (pos >= length) APP_THROW(kFunction, "pos >= len", kInvalidResponse);
    size_t objectLength = rapdu[pos++];
    const bool longForm = (objectLength & 0x80) != 0;
    if (longForm) {
        const size_t digits = objectLength & 0x7F;
        if (digits == 0 || digits > 3 || digits > length - pos) APP_THROW(kFunction, "length bytes", kInvalidResponse);
        objectLength = 0;
        for (size_t i = 0; i < digits; ++i) objectLength = objectLength << 8 | rapdu[pos++];
    }
    if (indicator) {
        if (objectLength == 0 || pos >= length) APP_THROW(kFunction, "length == 0", kInvalidResponse);
        if (rapdu[pos] != 0x01)
            APP_THROW(kFunction, "buf != 0x01",
                      longForm ? "IllegalStateException: DO'87 expected 0x01 marker" : "DO'87 expected 0x01 marker");
        ++pos;
        --objectLength;
    }
    if (objectLength > length - pos) APP_THROW(kFunction, "pos + length > len", kInvalidResponse);
    if (objectLength == 0 || objectLength % 8 != 0) APP_THROW(kFunction, "length % 8 != 0", kInvalidResponse);
    out.hasData = true;
    out.dataStart = pos;
    out.dataLength = objectLength;
    pos += objectLength;
}

void DESedeSecureMessagingWrapper::readDO99(const uint8_t* rapdu, size_t length, size_t& pos, ResponseObjects& out) {
    static const char* const kFunction = "mrtdutils::DESedeSecureMessagingWrapper::readDO99";
    if (pos >= length) APP_THROW(kFunction, "pos >= len", kInvalidResponse);
    if (rapdu[pos++] != 2) APP_THROW(kFunction, "length != 2", "IllegalStateException: DO'99 wrong length");
    if (length - pos < 2) APP_THROW(kFunction, "pos + 2 > len", kInvalidResponse);
    out.sw = static_cast<uint16_t>(rapdu[pos] << 8 | rapdu[pos + 1]);
    pos += 2;
}

void DESedeSecureMessagingWrapper::readDO8E(const uint8_t* rapdu, size_t length, size_t& pos, ResponseObjects& out) {
    static const char* const kFunction = "mrtdutils::DESedeSecureMessagingWrapper::readDO8E";
    if (pos >= length) APP_THROW(kFunction, "pos >= len", kInvalidResponse);
    if (rapdu[pos++] != 8) APP_THROW(kFunction, "", "IllegalStateException: DO'8E wrong length");
    if (length - pos < 8) APP_THROW(kFunction, "pos + 8 > len", kInvalidResponse);
    out.cc.assign(rapdu + pos, rapdu + pos + 8);
    pos += 8;
}

bool DESedeSecureMessagingWrapper::checkMac(const uint8_t* rapdu, size_t macInputLength, const Bytes& cc) {
    // The answer's step is taken before its MAC is computed, and stays taken.
    ++ssc_;
    Bytes k = sscBytes();
    k.insert(k.end(), rapdu, rapdu + macInputLength);
    Bytes mac = mscapiprovider::computeMac(kSMac_, Util::pad(k));
    return cc.size() == mac.size() && CRYPTO_memcmp(cc.data(), mac.data(), mac.size()) == 0;
}

}  // namespace mrtdutils
