#include "TestUtil.h"
#include "mrtdutils/CommandAPDU.h"

using mrtdutils::CommandAPDU;
using mrtdutils::DESedeSecureMessagingWrapper;
using mrtdutils::Util;

// Padding of 2, 4, 8 and 32 bytes is checked on the worked example.
TEST(Padding, PadAlwaysAddsAndUnpadRemovesUpToTheMarker) {
    EXPECT_EQ("8000000000000000", toHex(Util::pad(Bytes())));
    EXPECT_EQ("0102030405060780", toHex(Util::pad(hex("01020304050607"))));
    EXPECT_EQ("", toHex(Util::unpad(hex("80"))));
    EXPECT_EQ("0180", toHex(Util::unpad(hex("018080"))));
    for (const Bytes& bad : {hex("010200"), Bytes(), hex("000000"), hex("0181")})
        EXPECT_EQ("Expected constant 0x80", failureOf([&] { Util::unpad(bad); }));
}

namespace {

// The terminal under a made-up counter; the test plays the card.
class SecureMessaging : public ::testing::Test {
protected:
    const uint64_t start = 0x00000000FFFFFFF0ull;
    SmCardSide card;
    std::unique_ptr<DESedeSecureMessagingWrapper> sm =
        DESedeSecureMessagingWrapper::getInstance(card.kSEnc, card.kSMac, start);

    Bytes unwrap(const Bytes& r) { return sm->unwrap(r.data(), r.size()); }
    std::string unwrapFailure(const Bytes& r) {
        return failureOf([&] { unwrap(r); });
    }
};

}  // namespace

TEST_F(SecureMessaging, CommandForms) {
    struct Row {
        CommandAPDU command;
        size_t from;  // where `bytes` lie in the protected command
        std::string bytes;
    };
    const Row rows[] = {
        // Neither data nor Ne: only DO8E.
        {CommandAPDU(0x00, 0x84, 0x00, 0x00), 0, "0c8400000a8e08"},
        // READ BINARY with Ne 6: DO97 = 97 01 06, no DO87.
        {CommandAPDU::readBinary(0x81, 0x00, 6), 0, "0cb081000d970106"},
        // 8 data bytes: a 16-byte ciphertext (a whole padding block), DO87 = 87 11 01.
        {CommandAPDU(0x00, 0x22, 0xC1, 0xA4, Bytes(8, 0x55), 0), 0,
         "0c22c1a41d871101" + toHex(encrypt3des(card.kSEnc, Util::pad(Bytes(8, 0x55))))},
        // Ciphertext of 128 bytes: length 81 81; of 256: 82 01 01 and an extended Lc (BER-TLV lengths).
        {CommandAPDU(0x00, 0xD6, 0, 0, Bytes(127, 1), 0), 0, "0cd600008e87818101"},
        {CommandAPDU(0x00, 0xD6, 0, 0, Bytes(255, 1), 0), 0, "0cd6000000010f8782010101"},
        // INS B1 carries the data in DO85, without an indicator.
        {CommandAPDU(0x00, 0xB1, 0, 0, hex("5402"), 0x10), 0, "0cb10000178508"},
        {CommandAPDU(0x00, 0xB1, 0, 0, hex("5402"), 0x10), 15, "970110"},
        // Ne 256 is written 00 in DO97.
        {CommandAPDU::readBinary(0, 0, 256), 5, "970100"},
    };
    for (const Row& row : rows) {
        Bytes w = sm->wrapCommandAPDU(row.command).getBytes();
        ASSERT_GE(w.size(), row.from + row.bytes.size() / 2);
        EXPECT_EQ(row.bytes, toHex(Bytes(w.begin() + row.from, w.begin() + row.from + row.bytes.size() / 2)));
        if (&row == rows) { EXPECT_EQ("00", toHex(Bytes(w.begin() + 15, w.end()))) << "Le 00 ends the first"; }
    }
    EXPECT_EQ(start + std::size(rows), sm->getSendSequenceCounter());
}

TEST_F(SecureMessaging, CounterStepsForCommandAndAnswer) {
    sm->wrapCommandAPDU(CommandAPDU::readBinary(0, 0, 4));
    EXPECT_EQ(start + 1, sm->getSendSequenceCounter());
    EXPECT_EQ("60145f019000", toHex(unwrap(card.answer(card.do87(hex("60145F01")) + hex("99029000"), start + 2))));
    EXPECT_EQ(start + 2, sm->getSendSequenceCounter());
    // The card's real status word comes from DO99, not from the trailing bytes;
    // without DO99 the status bytes are 00 00.
    EXPECT_EQ("6282", toHex(unwrap(card.answer(hex("99026282"), start + 3))));
    EXPECT_EQ("0000", toHex(unwrap(card.answer(Bytes(), start + 4))));
}

TEST_F(SecureMessaging, MacFailuresKeepTheCounterStep) {
    const std::string invalidMac = "IllegalStateException: Invalid MAC";
    Bytes r = card.answer(hex("99029000"), start + 1);
    r[r.size() - 3] ^= 0x01;  // one bit of DO8E
    EXPECT_EQ(invalidMac, unwrapFailure(r));
    EXPECT_EQ(start + 1, sm->getSendSequenceCounter());
    // The same answer again is now out of step.
    EXPECT_EQ(invalidMac, unwrapFailure(card.answer(hex("99029000"), start + 1)));
    // Tampered data fails on its MAC before anything is decrypted.
    r = card.answer(card.do87(hex("0102")), start + 3);
    r[5] ^= 0x40;
    EXPECT_EQ(invalidMac, unwrapFailure(r));
}

TEST_F(SecureMessaging, MalformedAnswersAreRefusedWithoutReadingPastThem) {
    const std::string invalid = "IllegalArgumentException: Invalid response APDU";
    Bytes longForm = hex("87818102");
    longForm.resize(longForm.size() + 128);
    const std::pair<Bytes, std::string> rows[] = {
        {hex("9000"), "Card indicates SM error, SW ="},
        {hex("90"), invalid},
        {Bytes(), invalid},
        {hex("99029000 9000"), invalid},                  // no DO8E
        {hex("8E08 00000000"), invalid},                  // DO8E cut short
        {hex("9902 90"), invalid},                        // DO99 cut short
        {hex("8711 01 0000000000000000"), invalid},       // DO87 runs past the end
        {hex("8784 ffffffff 01"), invalid},               // absurd length form
        {hex("8782 ff"), invalid},                        // length bytes missing
        {hex("87"), invalid},                             // nothing after the tag
        {hex("8705 01 00000000 9000"), invalid},          // not whole blocks
        {hex("9903900000 8E08 0000000000000000 9000"), "IllegalStateException: DO'99 wrong length"},
        {hex("99029000 8E07 00000000000000 9000"), "IllegalStateException: DO'8E wrong length"},
        {hex("8709020000000000000000 9000"), "DO'87 expected 0x01 marker"},
        {longForm, "IllegalStateException: DO'87 expected 0x01 marker"},
    };
    for (const auto& [answer, message] : rows) EXPECT_EQ(message, unwrapFailure(answer)) << toHex(answer);
    EXPECT_EQ(start, sm->getSendSequenceCounter());
    // Valid MAC, but the plaintext has no 80 padding marker.
    Bytes unpadded = Bytes{0x87, 0x09, 0x01} + encrypt3des(card.kSEnc, hex("0102030405060708"));
    EXPECT_EQ("Expected constant 0x80", unwrapFailure(card.answer(unpadded, start + 1)));
    // Bytes that are no data object are stepped over.
    EXPECT_EQ("9000", toHex(unwrap(card.answer(hex("0000 99029000"), start + 2))));
}
