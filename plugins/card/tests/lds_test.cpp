// The LDS application: Basic Access Control against the published worked example,
// the check of the card's answer, and data groups read in chunks under secure
// messaging from a card that checks every MAC.
#include <map>

#include "TestUtil.h"
#include "mrtdutils/CommandAPDU.h"
#include "mrtdutils/Util.h"
#include "mscapiprovider/Cipher.h"
#include "mscapiprovider/MSCAPIProvider.h"
#include "mscapiprovider/Mac.h"
#include "mscapiprovider/SecretKey.h"
#include "vexaldscore/VexaBac.h"
#include "vexaldscore/VexaLds.h"

using mrtdutils::Util;
using vexaldscore::VexaBac;
using vexaldscore::VexaLds;

namespace {

const Bytes kRndIcc = hex("4608F91988702212");
const Bytes kRndIfd = hex("781723860C06C226");
const Bytes kKifd = hex("0B795240CB7049B01C19B33E32804F0B");
// E.ICC and M.ICC of the example, then 9000.
const Bytes kCardAnswer = hex("46B9342A41396CD7386BF5803104D7CEDC122B9132139BAF2EEDC94EE178534F 2F2D235D074D7449 9000");

std::unique_ptr<VexaBac> exampleBac() {
    return VexaBac::getInstance("L898902C<", "690806", "940623", kRndIcc, kRndIfd, kKifd);
}

// The card side of secure messaging over a file: checks the command's MAC with the
// counter it expects, answers READ BINARY (by short identifier or by offset) with
// DO87, DO99 and DO8E. `forced` gives a status word (no data) for the n-th command.
class SmCard : public smartcardio::CardChannel {
public:
    SmCard(Bytes file, uint64_t ssc) : file_(std::move(file)), ssc_(ssc) {
        key_ = mscapiprovider::SecretKey::getInstance(kEnc, mscapiprovider::CALG_3DES);
    }
    static const Bytes kEnc, kMac;

    mrtdutils::ResponseAPDU transmit(const uint8_t* command, size_t length) const override {
        Bytes c(command, command + length);
        ++count_;
        EXPECT_EQ(0x0C, c[0]);
        // CLA INS P1 P2 Lc [97 01 Le] 8E 08 cc 00
        size_t pos = 5;
        int ne = 0;
        Bytes macced;
        if (c[pos] == 0x97) {
            ne = c[pos + 2] == 0 ? 256 : c[pos + 2];
            macced.assign(c.begin() + pos, c.begin() + pos + 3);
            pos += 3;
        }
        EXPECT_EQ(0x8E, c[pos]);
        Bytes cc(c.begin() + pos + 2, c.begin() + pos + 10);
        ++ssc_;
        Bytes m = counter();
        Bytes header = Util::pad({c[0], c[1], c[2], c[3]});
        m.insert(m.end(), header.begin(), header.end());
        m.insert(m.end(), macced.begin(), macced.end());
        EXPECT_EQ(toHex(mscapiprovider::computeMac(kMac, Util::pad(m))), toHex(cc)) << "command " << count_;

        const bool sfi = (c[2] & 0x80) != 0;
        const size_t offset = sfi ? c[3] : size_t(c[2]) << 8 | c[3];
        reads.emplace_back(sfi ? -(c[2] & 0x1F) : static_cast<int>(offset), ne);
        Bytes data;
        uint16_t sw = 0x9000;
        auto f = forced.find(count_);
        if (f != forced.end()) {
            sw = f->second;
        } else if (offset >= file_.size()) {
            sw = 0x6B00;
        } else {
            size_t end = std::min(file_.size(), offset + ne);
            data.assign(file_.begin() + offset, file_.begin() + end);
            if (end - offset < size_t(ne)) sw = 0x6282;
        }
        Bytes body;
        if (!data.empty()) {
            Bytes enc = mscapiprovider::Cipher::getInstance(*key_, mscapiprovider::Cipher::ENCRYPT)
                            ->doFinalNoPadding(Util::pad(data));
            body.push_back(0x87);
            Bytes len = mrtdutils::DESedeSecureMessagingWrapper::encodeLength(enc.size() + 1);
            body.insert(body.end(), len.begin(), len.end());
            body.push_back(0x01);
            body.insert(body.end(), enc.begin(), enc.end());
        }
        body.insert(body.end(), {0x99, 0x02, uint8_t(sw >> 8), uint8_t(sw)});
        ++ssc_;
        Bytes k = counter();
        k.insert(k.end(), body.begin(), body.end());
        Bytes mac = mscapiprovider::computeMac(kMac, Util::pad(k));
        body.insert(body.end(), {0x8E, 0x08});
        body.insert(body.end(), mac.begin(), mac.end());
        body.insert(body.end(), {0x90, 0x00});
        return mrtdutils::ResponseAPDU(body);
    }

    mutable std::vector<std::pair<int, int>> reads;  // (offset, Ne) of each command; -n: short file identifier n
    std::map<int, uint16_t> forced;                   // command number (from 1) -> status word

private:
    Bytes counter() const {
        Bytes out(8);
        for (int i = 0; i < 8; ++i) out[i] = uint8_t(ssc_ >> (56 - 8 * i));
        return out;
    }
    Bytes file_;
    mutable uint64_t ssc_;
    mutable int count_ = 0;
    std::unique_ptr<mscapiprovider::SecretKey> key_;
};

const Bytes SmCard::kEnc = hex("0123456789ABCDEF FEDCBA9876543210 0123456789ABCDEF");
const Bytes SmCard::kMac = hex("1032547698BADCFE EFCDAB8967452301 1032547698BADCFE");

// A data-group file of `total` bytes: 75 82 hi lo, then bytes counting up.
Bytes dataGroup(int total) {
    Bytes f(total);
    f[0] = 0x75;
    f[1] = 0x82;
    f[2] = uint8_t((total - 4) >> 8);
    f[3] = uint8_t(total - 4);
    for (int i = 4; i < total; ++i) f[i] = uint8_t(i * 7);
    return f;
}

struct SecureLds {
    explicit SecureLds(Bytes file) : card(std::move(file), 0x1122334455667788ull) {
        lds = VexaLds::getInstance(card);
        lds->setWrapper(mrtdutils::DESedeSecureMessagingWrapper::getInstance(SmCard::kEnc, SmCard::kMac,
                                                                             0x1122334455667788ull));
    }
    SmCard card;
    std::unique_ptr<VexaLds> lds;
};

// What readBinaryDg returns for a complete read: length bytes, file bytes 4-5,
// the first status word, then the file from byte 6.
Bytes expectedLayout(const Bytes& file, size_t upTo) {
    Bytes out(file.begin() + 2, file.begin() + 6);
    out.insert(out.end(), {0x90, 0x00});
    out.insert(out.end(), file.begin() + 6, file.begin() + upTo);
    return out;
}

using Reads = std::vector<std::pair<int, int>>;

}  // namespace

TEST(VexaBac, CryptogramAndSessionKeysOfTheWorkedExample) {
    auto bac = exampleBac();
    EXPECT_EQ("72c29c2371cc9bdb65b779b8e8d37b29ecc154aa56a8799fae2f498f76ed92f2"
              "5f1448eea8ad90a7",
              toHex(bac->getCryptogram()));
    bac->doBac(kCardAnswer);
    Bytes seed = hex("0036D272F5C350ACAC50C3F572D23600");
    EXPECT_EQ(toHex(Util::deriveKey(seed, 1)), toHex(bac->getKSEnc()));
    EXPECT_EQ(toHex(Util::deriveKey(seed, 2)), toHex(bac->getKSMac()));
    EXPECT_EQ(0x887022120C06C226ull, bac->getSsc());
}

TEST(VexaBac, RefusesAWrongCardAnswer) {
    // One bit of the card's MAC changed.
    Bytes badMac = kCardAnswer;
    badMac[35] ^= 0x01;
    EXPECT_EQ("La tarjeta respondió a la autenticación con datos no válidos (MAC)",
              failureOf([&] { exampleBac()->doBac(badMac); }));

    // A correctly MACed answer that does not give back our RND.IFD.
    Bytes seed = Util::computeKeySeed("L898902C<", "690806", "940623");
    Bytes kEnc = Util::deriveKey(seed, 1), kMac = Util::deriveKey(seed, 2);
    auto key = mscapiprovider::SecretKey::getInstance(kEnc, mscapiprovider::CALG_3DES);
    Bytes r = hex("4608F91988702212 0000000000000000 0B4F80323EB3191CB04970CB4052790B");
    Bytes e = mscapiprovider::Cipher::getInstance(*key, mscapiprovider::Cipher::ENCRYPT)->doFinalNoPadding(r);
    Bytes answer = e;
    Bytes m = mscapiprovider::computeMac(kMac, Util::pad(e));
    answer.insert(answer.end(), m.begin(), m.end());
    answer.insert(answer.end(), {0x90, 0x00});
    EXPECT_EQ("La tarjeta respondió a la autenticación con datos no válidos (RND.IFD)",
              failureOf([&] { exampleBac()->doBac(answer); }));

    EXPECT_EQ("IllegalStateException: cryptedCardCryptogram wrong length",
              failureOf([&] { exampleBac()->doBac(Bytes(39)); }));
    EXPECT_EQ("IllegalStateException: Cryptogram wrong length", failureOf([&] { exampleBac()->doBac(Bytes(41)); }));
    EXPECT_EQ("IllegalArgumentException: rndICC wrong length",
              failureOf([] { VexaBac::getInstance("L898902C<", "690806", "940623", hex("01020304050607")); }));
}

TEST(VexaLds, ReadBinaryDgChunks) {
    {
        Bytes file = dataGroup(10);  // T = 10: the first 6 bytes, then 4
        SecureLds s(file);
        EXPECT_EQ(toHex(expectedLayout(file, 10)), toHex(s.lds->readBinaryDg(2)));
        EXPECT_EQ((Reads{{-2, 6}, {6, 4}}), s.card.reads);
    }
    {
        Bytes file = dataGroup(6 + 231);
        SecureLds s(file);
        EXPECT_EQ(toHex(expectedLayout(file, file.size())), toHex(s.lds->readBinaryDg(7)));
        EXPECT_EQ((Reads{{-7, 6}, {6, 231}}), s.card.reads);
    }
    {
        Bytes file = dataGroup(6 + 232);
        SecureLds s(file);
        EXPECT_EQ(toHex(expectedLayout(file, file.size())), toHex(s.lds->readBinaryDg(2)));
        EXPECT_EQ((Reads{{-2, 6}, {6, 231}, {237, 1}}), s.card.reads);
    }
}

TEST(VexaLds, ReadBinaryDgEndsOn6B00And6282) {
    {
        // 6B00 in the loop ends the read with what came before it.
        Bytes file = dataGroup(600);
        SecureLds s(file);
        s.card.forced[3] = 0x6B00;
        EXPECT_EQ(toHex(expectedLayout(file, 6 + 231)), toHex(s.lds->readBinaryDg(2)));
        EXPECT_EQ(3u, s.card.reads.size());
    }
    {
        // The file is shorter than its length bytes say: the card answers 6282 with what is left.
        Bytes file = dataGroup(300);
        file.resize(250);
        SecureLds s(file);
        EXPECT_EQ(toHex(expectedLayout(file, 250)), toHex(s.lds->readBinaryDg(2)));
        EXPECT_EQ((Reads{{-2, 6}, {6, 231}, {237, 63}}), s.card.reads);
    }
    {
        Bytes file = dataGroup(600);
        SecureLds s(file);
        s.card.forced[2] = 0x6A82;
        EXPECT_EQ("RuntimeException: APDU response error", failureOf([&] { s.lds->readBinaryDg(2); }));
    }
    {
        SecureLds s(dataGroup(600));
        s.card.forced[1] = 0x6A82;
        EXPECT_EQ("RuntimeException: APDU response error", failureOf([&] { s.lds->readBinaryDg(2); }));
    }
}

TEST(VexaLds, SecureTransmitResendsOn6Cxx) {
    Bytes file = dataGroup(100);
    SecureLds s(file);
    s.card.forced[1] = 0x6C10;
    Bytes answer = s.lds->secureTransmit(mrtdutils::CommandAPDU::readBinary(0x00, 0x08, 256));
    EXPECT_EQ((Reads{{8, 256}, {8, 16}}), s.card.reads);
    Bytes expected(file.begin() + 8, file.begin() + 24);
    expected.insert(expected.end(), {0x90, 0x00});
    EXPECT_EQ(toHex(expected), toHex(answer));
}

TEST(VexaLds, RefusesBeforeSendingAnything) {
    ScriptedChannel none;
    auto lds = VexaLds::getInstance(none);
    EXPECT_EQ("IllegalArgumentException: messaging wrapper is null", failureOf([&] { lds->readBinaryDg(2); }));
    SecureLds s(dataGroup(20));
    EXPECT_EQ("IllegalArgumentException: Incorrect DG", failureOf([&] { s.lds->readBinaryDg(0); }));
    EXPECT_EQ("IllegalArgumentException: Incorrect DG", failureOf([&] { s.lds->readBinaryDg(31); }));
    EXPECT_TRUE(s.card.reads.empty());
}

TEST(VexaLds, PlainCommands) {
    ScriptedChannel card;
    card.expect("00A4040C07 A0000002471001", "9000")
        .expect("0084000008", "0102030405060708 9000")
        .expect("0084000008", "6D00");
    auto lds = VexaLds::getInstance(card);
    lds->select(hex("A0000002471001"));
    EXPECT_EQ("0102030405060708", toHex(lds->getChallenge()));
    EXPECT_EQ("Respuesta de comando de getchallenge no esperada (6d00)", failureOf([&] { lds->getChallenge(); }));
}
