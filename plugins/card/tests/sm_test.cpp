#include "TestUtil.h"
#include "mrtdutils/CommandAPDU.h"
#include "mrtdutils/DESedeSecureMessagingWrapper.h"
#include "mrtdutils/Util.h"
#include "mscapiprovider/Cipher.h"
#include "mscapiprovider/MSCAPIProvider.h"
#include "mscapiprovider/Mac.h"
#include "mscapiprovider/SecretKey.h"

using mrtdutils::CommandAPDU;
using mrtdutils::DESedeSecureMessagingWrapper;
using mrtdutils::Util;

TEST(Padding, PadAlwaysAddsAndUnpadRemoves) {
    EXPECT_EQ("8000000000000000", toHex(Util::pad(Bytes())));
    EXPECT_EQ("0102800000000000", toHex(Util::pad(hex("0102"))));
    EXPECT_EQ("0102030405060780", toHex(Util::pad(hex("01020304050607"))));
    EXPECT_EQ(16u, Util::pad(Bytes(8, 1)).size());
    EXPECT_EQ("0102", toHex(Util::unpad(hex("0102800000"))));
    EXPECT_EQ("", toHex(Util::unpad(hex("80"))));
    EXPECT_EQ("0180", toHex(Util::unpad(hex("018080"))));
    for (const Bytes& bad : {hex("010200"), Bytes(), hex("000000"), hex("0181")})
        EXPECT_EQ("Expected constant 0x80", failureOf([&] { Util::unpad(bad); }));
}

TEST(Padding, EncodeLength) {
    EXPECT_EQ("00", toHex(DESedeSecureMessagingWrapper::encodeLength(0)));
    EXPECT_EQ("7f", toHex(DESedeSecureMessagingWrapper::encodeLength(127)));
    EXPECT_EQ("8180", toHex(DESedeSecureMessagingWrapper::encodeLength(128)));
    EXPECT_EQ("81ff", toHex(DESedeSecureMessagingWrapper::encodeLength(255)));
    EXPECT_EQ("820100", toHex(DESedeSecureMessagingWrapper::encodeLength(256)));
}

namespace {

// Session keys and counter of a made-up session; the test plays the card with
// the same primitives (checked against published values elsewhere).
class SecureMessaging : public ::testing::Test {
protected:
    const Bytes kSEnc = hex("979EC13B1CBFE9DC D01AB0FED307EAE5 979EC13B1CBFE9DC");
    const Bytes kSMac = hex("F1CB1F1FB5ADF208 806B89DC579DC1F8 F1CB1F1FB5ADF208");
    const uint64_t start = 0x00000000FFFFFFF0ull;
    std::unique_ptr<DESedeSecureMessagingWrapper> sm = DESedeSecureMessagingWrapper::getInstance(kSEnc, kSMac, start);

    static Bytes be64(uint64_t v) {
        Bytes out(8);
        for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(v >> (56 - 8 * i));
        return out;
    }
    Bytes encrypt(const Bytes& plain) {
        auto k = mscapiprovider::SecretKey::getInstance(kSEnc, mscapiprovider::CALG_3DES);
        return mscapiprovider::Cipher::getInstance(*k, mscapiprovider::Cipher::ENCRYPT)->doFinalNoPadding(plain);
    }
    // The card's answer: objects, DO8E over them with counter `ssc`, SW.
    Bytes answer(const Bytes& objects, uint64_t ssc, const std::string& sw = "9000") {
        Bytes k = be64(ssc);
        k.insert(k.end(), objects.begin(), objects.end());
        Bytes mac = mscapiprovider::computeMac(kSMac, Util::pad(k));
        Bytes out = objects;
        out.push_back(0x8E);
        out.push_back(0x08);
        out.insert(out.end(), mac.begin(), mac.end());
        Bytes s = hex(sw);
        out.insert(out.end(), s.begin(), s.end());
        return out;
    }
    Bytes do87(const Bytes& plain) {
        Bytes ct = encrypt(Util::pad(plain));
        Bytes out{0x87};
        Bytes len = DESedeSecureMessagingWrapper::encodeLength(ct.size() + 1);
        out.insert(out.end(), len.begin(), len.end());
        out.push_back(0x01);
        out.insert(out.end(), ct.begin(), ct.end());
        return out;
    }
    std::string unwrapFailure(const Bytes& r) {
        return failureOf([&] { sm->unwrap(r.data(), r.size()); });
    }
};

}  // namespace

TEST_F(SecureMessaging, CommandForms) {
    // Neither data nor Ne: only DO8E, and Le 00.
    Bytes w = sm->wrapCommandAPDU(CommandAPDU(0x00, 0x84, 0x00, 0x00)).getBytes();
    ASSERT_EQ(16u, w.size());
    EXPECT_EQ("0c8400000a8e08", toHex(Bytes(w.begin(), w.begin() + 7)));
    EXPECT_EQ(0x00, w.back());
    // READ BINARY with Ne 6: DO97 = 97 01 06, no DO87.
    w = sm->wrapCommandAPDU(CommandAPDU::readBinary(0x81, 0x00, 6)).getBytes();
    EXPECT_EQ("0cb081000d970106", toHex(Bytes(w.begin(), w.begin() + 8)));
    // 8 data bytes: a 16-byte ciphertext (a whole padding block), DO87 = 87 11 01.
    w = sm->wrapCommandAPDU(CommandAPDU(0x00, 0x22, 0xC1, 0xA4, Bytes(8, 0x55), 0)).getBytes();
    EXPECT_EQ("0c22c1a41d871101", toHex(Bytes(w.begin(), w.begin() + 8)));
    EXPECT_EQ(toHex(encrypt(Util::pad(Bytes(8, 0x55)))), toHex(Bytes(w.begin() + 8, w.begin() + 24)));
    // Ciphertext of 128 bytes: length 81 81; of 256: 82 01 01.
    w = sm->wrapCommandAPDU(CommandAPDU(0x00, 0xD6, 0, 0, Bytes(127, 1), 0)).getBytes();
    EXPECT_EQ("0cd600008e87818101", toHex(Bytes(w.begin(), w.begin() + 9)));
    w = sm->wrapCommandAPDU(CommandAPDU(0x00, 0xD6, 0, 0, Bytes(255, 1), 0)).getBytes();
    EXPECT_EQ("0cd6000000010f8782010101", toHex(Bytes(w.begin(), w.begin() + 12)));  // extended Lc
    // INS B1 carries the data in DO85, without an indicator.
    w = sm->wrapCommandAPDU(CommandAPDU(0x00, 0xB1, 0, 0, hex("5402"), 0x10)).getBytes();
    EXPECT_EQ("0cb10000178508", toHex(Bytes(w.begin(), w.begin() + 7)));
    EXPECT_EQ("970110", toHex(Bytes(w.begin() + 15, w.begin() + 18)));
    // Ne 256 is written 00 in DO97.
    w = sm->wrapCommandAPDU(CommandAPDU::readBinary(0, 0, 256)).getBytes();
    EXPECT_EQ("970100", toHex(Bytes(w.begin() + 5, w.begin() + 8)));
    EXPECT_EQ(start + 7, sm->getSendSequenceCounter());
}

TEST_F(SecureMessaging, CounterStepsForCommandAndAnswer) {
    sm->wrapCommandAPDU(CommandAPDU::readBinary(0, 0, 4));
    EXPECT_EQ(start + 1, sm->getSendSequenceCounter());
    Bytes objects = do87(hex("60145F01"));
    Bytes o99 = hex("99029000");
    objects.insert(objects.end(), o99.begin(), o99.end());
    Bytes r = answer(objects, start + 2);
    EXPECT_EQ("60145f019000", toHex(sm->unwrap(r.data(), r.size())));
    EXPECT_EQ(start + 2, sm->getSendSequenceCounter());
    // The card's real status word comes from DO99, not from the trailing bytes.
    r = answer(hex("99026282"), start + 3);
    EXPECT_EQ("6282", toHex(sm->unwrap(r.data(), r.size())));
    // Without DO99 the status bytes are 00 00.
    r = answer(Bytes(), start + 4);
    EXPECT_EQ("0000", toHex(sm->unwrap(r.data(), r.size())));
}

TEST_F(SecureMessaging, MacFailuresKeepTheCounterStep) {
    Bytes r = answer(hex("99029000"), start + 1);
    r[r.size() - 3] ^= 0x01;  // one bit of DO8E
    EXPECT_EQ("IllegalStateException: Invalid MAC", unwrapFailure(r));
    EXPECT_EQ(start + 1, sm->getSendSequenceCounter());
    // The same answer again is now out of step.
    r = answer(hex("99029000"), start + 1);
    EXPECT_EQ("IllegalStateException: Invalid MAC", unwrapFailure(r));
    // Tampered data fails on its MAC before anything is decrypted.
    r = answer(do87(hex("0102")), start + 3);
    r[5] ^= 0x40;
    EXPECT_EQ("IllegalStateException: Invalid MAC", unwrapFailure(r));
}

TEST_F(SecureMessaging, FailureTexts) {
    EXPECT_EQ("Card indicates SM error, SW =", unwrapFailure(hex("9000")));
    EXPECT_EQ("IllegalArgumentException: Invalid response APDU", unwrapFailure(hex("90")));
    EXPECT_EQ("IllegalArgumentException: Invalid response APDU", unwrapFailure(Bytes()));
    EXPECT_EQ("IllegalStateException: DO'99 wrong length", unwrapFailure(hex("9903900000 8E08 0000000000000000 9000")));
    EXPECT_EQ("IllegalStateException: DO'8E wrong length", unwrapFailure(hex("99029000 8E07 00000000000000 9000")));
    EXPECT_EQ("DO'87 expected 0x01 marker", unwrapFailure(hex("8709020000000000000000 9000")));
    Bytes longForm = hex("87818102");
    longForm.resize(longForm.size() + 128);
    EXPECT_EQ("IllegalStateException: DO'87 expected 0x01 marker", unwrapFailure(longForm));
    // Valid MAC, but the plaintext has no 80 padding marker.
    Bytes objects{0x87, 0x09, 0x01};
    Bytes ct = encrypt(hex("0102030405060708"));
    objects.insert(objects.end(), ct.begin(), ct.end());
    Bytes r = answer(objects, start + 1);
    EXPECT_EQ("Expected constant 0x80", unwrapFailure(r));
}

TEST_F(SecureMessaging, TruncatedAnswersAreRefusedWithoutReadingPastThem) {
    const std::string invalid = "IllegalArgumentException: Invalid response APDU";
    EXPECT_EQ(invalid, unwrapFailure(hex("99029000 9000")));               // no DO8E
    EXPECT_EQ(invalid, unwrapFailure(hex("8E08 00000000")));               // DO8E cut short
    EXPECT_EQ(invalid, unwrapFailure(hex("9902 90")));                     // DO99 cut short
    EXPECT_EQ(invalid, unwrapFailure(hex("8711 01 0000000000000000")));     // DO87 runs past the end
    EXPECT_EQ(invalid, unwrapFailure(hex("8784 ffffffff 01")));            // absurd length form
    EXPECT_EQ(invalid, unwrapFailure(hex("8782 ff")));                     // length bytes missing
    EXPECT_EQ(invalid, unwrapFailure(hex("87")));                          // nothing after the tag
    EXPECT_EQ(invalid, unwrapFailure(hex("8705 01 00000000 9000")));        // not whole blocks
    EXPECT_EQ(start, sm->getSendSequenceCounter());
    // Bytes that are no data object are stepped over.
    Bytes r = answer(hex("0000 99029000"), start + 1);
    EXPECT_EQ("9000", toHex(sm->unwrap(r.data(), r.size())));
}
