// The worked example of Basic Access Control and secure messaging in ICAO Doc
// 9303 Part 11, byte for byte.
#include "TestUtil.h"
#include "mrtdutils/CommandAPDU.h"
#include "mrtdutils/DESedeSecureMessagingWrapper.h"
#include "mrtdutils/Util.h"
#include "mscapiprovider/Cipher.h"
#include "mscapiprovider/MSCAPIProvider.h"
#include "mscapiprovider/Mac.h"
#include "mscapiprovider/SecretKey.h"
#include "vexaldscore/VexaBac.h"

using mrtdutils::CommandAPDU;
using mrtdutils::DESedeSecureMessagingWrapper;
using mrtdutils::Util;

namespace {

// The example prints its keys with DES parity set; ours keep SHA-1's bits.
Bytes withoutParity(Bytes key) {
    for (uint8_t& b : key) b &= 0xFE;
    return key;
}

Bytes k1k2k1(const std::string& k1k2) {
    Bytes k = hex(k1k2);
    k.insert(k.end(), k.begin(), k.begin() + 8);
    return k;
}

const Bytes kRndIcc = hex("4608F91988702212");
const Bytes kRndIfd = hex("781723860C06C226");
const Bytes kKifd = hex("0B795240CB7049B01C19B33E32804F0B");
// E.ICC and M.ICC: the card's answer to EXTERNAL AUTHENTICATE.
const Bytes kCardAnswer = hex("46B9342A41396CD7386BF5803104D7CEDC122B9132139BAF2EEDC94EE178534F");
const Bytes kCardMac = hex("2F2D235D074D7449");

std::unique_ptr<vexaldscore::VexaBac> example() {
    return vexaldscore::VexaBac::getInstance("L898902C<", "690806", "940623", kRndIcc, kRndIfd, kKifd);
}

}  // namespace

TEST(IcaoExample, KeysFromTheMrzInformation) {
    // Document number L898902C<, date of birth 690806, date of expiry 940623.
    Bytes seed = Util::computeKeySeed("L898902C<", "690806", "940623");
    EXPECT_EQ("239ab9cb282daf66231dc5a4df6bfbae", toHex(seed));
    Bytes kEnc = Util::deriveKey(seed, 1);
    Bytes kMac = Util::deriveKey(seed, 2);
    ASSERT_EQ(24u, kEnc.size());
    EXPECT_EQ(toHex(withoutParity(k1k2k1("AB94FDECF2674FDFB9B391F85D7F76F2"))), toHex(withoutParity(kEnc)));
    EXPECT_EQ(toHex(withoutParity(k1k2k1("7962D9ECE03D1ACD4C76089DCE131543"))), toHex(withoutParity(kMac)));
    // Unadjusted: the first 16 bytes of SHA-1(seed || 00000001), K1 repeated.
    EXPECT_EQ("ab94fcedf2664edfb9b291f85d7f77f2ab94fcedf2664edf", toHex(kEnc));
}

TEST(IcaoExample, MutualAuthenticationAndSessionKeys) {
    // E.IFD and M.IFD; the card's E.ICC and M.ICC are checked and opened by doBac.
    auto bac = example();
    EXPECT_EQ("72c29c2371cc9bdb65b779b8e8d37b29ecc154aa56a8799fae2f498f76ed92f2"
              "5f1448eea8ad90a7",
              toHex(bac->getCryptogram()));
    bac->doBac(kCardAnswer + kCardMac + hex("9000"));
    // K.Seed = K.IFD xor K.ICC = 0036D272F5C350ACAC50C3F572D23600.
    EXPECT_EQ(toHex(withoutParity(k1k2k1("979EC13B1CBFE9DCD01AB0FED307EAE5"))), toHex(withoutParity(bac->getKSEnc())));
    EXPECT_EQ(toHex(withoutParity(k1k2k1("F1CB1F1FB5ADF208806B89DC579DC1F8"))), toHex(withoutParity(bac->getKSMac())));
    EXPECT_EQ(0x887022120C06C226ull, bac->getSsc());
}

TEST(IcaoExample, SendSequenceCounter) {
    EXPECT_EQ(0x887022120C06C226ull, Util::computeSendSequenceCounter(kRndIcc, kRndIfd));
    EXPECT_EQ("IllegalStateException: Wrong length input",
              failureOf([] { Util::computeSendSequenceCounter(hex("01020304050607"), kRndIfd); }));
    EXPECT_EQ("IllegalStateException: Wrong length input",
              failureOf([] { Util::computeSendSequenceCounter(kRndIcc, Bytes(9)); }));
}

TEST(IcaoExample, ProtectedSelectAndReadBinary) {
    // Session keys as the card and terminal derive them (no parity adjustment).
    Bytes sessionSeed = hex("0036D272F5C350ACAC50C3F572D23600");
    auto sm = DESedeSecureMessagingWrapper::getInstance(Util::deriveKey(sessionSeed, 1), Util::deriveKey(sessionSeed, 2),
                                                        Util::computeSendSequenceCounter(kRndIcc, kRndIfd));

    // SELECT EF.COM.
    CommandAPDU select(0x00, 0xA4, 0x02, 0x0C, hex("011E"), 0);
    EXPECT_EQ("0ca4020c158709016375432908c044f68e08bf8b92d635ff24f800", toHex(sm->wrapCommandAPDU(select).getBytes()));
    EXPECT_EQ(0x887022120C06C227ull, sm->getSendSequenceCounter());
    Bytes answer = hex("990290008E08FA855A5D4C50A8ED9000");
    EXPECT_EQ("9000", toHex(sm->unwrap(answer.data(), answer.size())));
    EXPECT_EQ(0x887022120C06C228ull, sm->getSendSequenceCounter());

    // READ BINARY of the first four bytes.
    EXPECT_EQ("0cb000000d9701048e08ed6705417e96ba5500",
              toHex(sm->wrapCommandAPDU(CommandAPDU::readBinary(0x00, 0x00, 4)).getBytes()));
    answer = hex("8709019FF0EC34F9922651990290008E08AD55CC17140B2DED9000");
    EXPECT_EQ("60145f019000", toHex(sm->unwrap(answer.data(), answer.size())));

    // READ BINARY of the remaining 18 bytes.
    EXPECT_EQ("0cb000040d9701128e082ea28a70f3c7b53500",
              toHex(sm->wrapCommandAPDU(CommandAPDU::readBinary(0x00, 0x04, 0x12)).getBytes()));
    answer = hex("871901FB9235F4E4037F2327DCC8964F1F9B8C30F42C8E2FFF224A990290008E08C8B2787EAEA07D749000");
    EXPECT_EQ("04303130365f36063034303030305c0261759000", toHex(sm->unwrap(answer.data(), answer.size())));
    EXPECT_EQ(0x887022120C06C22Cull, sm->getSendSequenceCounter());
}

// A wrong MAC or RND.IFD in the card's answer is refused end to end against the
// simulated card; the lengths are refused before any cryptography.
TEST(VexaBac, RefusesAnswersAndChallengesOfTheWrongLength) {
    EXPECT_EQ("IllegalStateException: cryptedCardCryptogram wrong length",
              failureOf([&] { example()->doBac(Bytes(39)); }));
    EXPECT_EQ("IllegalStateException: Cryptogram wrong length", failureOf([&] { example()->doBac(Bytes(41)); }));
    EXPECT_EQ("IllegalArgumentException: rndICC wrong length",
              failureOf([] { vexaldscore::VexaBac::getInstance("L898902C<", "690806", "940623", hex("01020304050607")); }));
}
