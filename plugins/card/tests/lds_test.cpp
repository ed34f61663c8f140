// The LDS application: data groups read in chunks under secure messaging, with
// the status words that end or fail a read.
#include <map>

#include "TestUtil.h"
#include "mrtdutils/CommandAPDU.h"
#include "vexaldscore/VexaLds.h"

using mrtdutils::Util;
using vexaldscore::VexaLds;

namespace {

using Reads = std::vector<std::pair<int, int>>;
const uint64_t kStart = 0x1122334455667788ull;

// The card side of secure messaging over one file: answers READ BINARY (by short
// identifier or by offset) with DO87, DO99 and DO8E; `forced` gives a status word
// (no data) for the n-th command. The terminal's command MACs are checked byte for
// byte on the worked example; here a wrong counter shows as a refused answer MAC.
class SmCard : public smartcardio::CardChannel {
public:
    explicit SmCard(Bytes file) : file_(std::move(file)) {}

    mrtdutils::ResponseAPDU transmit(const uint8_t* c, size_t length) const override {
        EXPECT_GE(length, 8u);
        EXPECT_EQ(0x0C, c[0]);
        ++count_;
        ssc_ += 2;
        const bool sfi = (c[2] & 0x80) != 0;
        const size_t offset = sfi ? c[3] : size_t(c[2]) << 8 | c[3];
        const int ne = c[5] != 0x97 ? 0 : c[7] ? c[7] : 256;
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
        Bytes objects = (data.empty() ? Bytes() : side_.do87(data)) + Bytes{0x99, 0x02, uint8_t(sw >> 8), uint8_t(sw)};
        return mrtdutils::ResponseAPDU(side_.answer(objects, ssc_));
    }

    mutable Reads reads;              // (offset, Ne) of each command; -n: short file identifier n
    std::map<int, uint16_t> forced;  // command number (from 1) -> status word

private:
    SmCardSide side_;
    Bytes file_;
    mutable uint64_t ssc_ = kStart;
    mutable int count_ = 0;
};

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
    explicit SecureLds(Bytes file) : card(std::move(file)) {
        lds->setWrapper(mrtdutils::DESedeSecureMessagingWrapper::getInstance(SmCardSide().kSEnc, SmCardSide().kSMac, kStart));
    }
    SmCard card;
    std::unique_ptr<VexaLds> lds = VexaLds::getInstance(card);
};

}  // namespace

TEST(VexaLds, ReadBinaryDgChunksAndTheStatusWordsThatEndARead) {
    struct Row {
        int dg, total;
        size_t cut;         // the file is shorter than its length bytes say (0: not)
        int forcedAt;       // command answered `forcedSw` without data (0: none)
        uint16_t forcedSw;
        size_t upTo;        // the file is read up to here; 0: the read fails
        Reads reads;
    };
    const Row rows[] = {
        {2, 10, 0, 0, 0, 10, {{-2, 6}, {6, 4}}},  // the first 6 bytes, then the rest
        {7, 6 + 231, 0, 0, 0, 6 + 231, {{-7, 6}, {6, 231}}},
        {2, 6 + 232, 0, 0, 0, 6 + 232, {{-2, 6}, {6, 231}, {237, 1}}},
        // 6B00 in the loop ends the read with what came before it.
        {2, 600, 0, 3, 0x6B00, 6 + 231, {{-2, 6}, {6, 231}, {237, 231}}},
        // The card answers 6282 with what is left.
        {2, 300, 250, 0, 0, 250, {{-2, 6}, {6, 231}, {237, 63}}},
        {2, 600, 0, 2, 0x6A82, 0, {{-2, 6}, {6, 231}}},
        {2, 600, 0, 1, 0x6A82, 0, {{-2, 6}}},
    };
    for (const Row& row : rows) {
        Bytes file = dataGroup(row.total);
        if (row.cut) file.resize(row.cut);
        SecureLds s(file);
        if (row.forcedAt) s.card.forced[row.forcedAt] = row.forcedSw;
        if (row.upTo) {
            // Length bytes, file bytes 4-5, the first status word, then the file from byte 6.
            Bytes expected = Bytes(file.begin() + 2, file.begin() + 6) + hex("9000") +
                             Bytes(file.begin() + 6, file.begin() + row.upTo);
            EXPECT_EQ(toHex(expected), toHex(s.lds->readBinaryDg(row.dg))) << row.total;
        } else {
            EXPECT_EQ("RuntimeException: APDU response error", failureOf([&] { s.lds->readBinaryDg(row.dg); }));
        }
        EXPECT_EQ(row.reads, s.card.reads) << row.total;
    }
}

TEST(VexaLds, SecureTransmitResendsOn6Cxx) {
    Bytes file = dataGroup(100);
    SecureLds s(file);
    s.card.forced[1] = 0x6C10;
    Bytes answer = s.lds->secureTransmit(mrtdutils::CommandAPDU::readBinary(0x00, 0x08, 256));
    EXPECT_EQ((Reads{{8, 256}, {8, 16}}), s.card.reads);
    EXPECT_EQ(toHex(Bytes(file.begin() + 8, file.begin() + 24) + hex("9000")), toHex(answer));
}

// Reading before BAC is refused in the facade's test (a failed BAC is not repeated).
TEST(VexaLds, AGroupOutOfRangeIsRefusedBeforeAnythingIsSent) {
    SecureLds s(dataGroup(20));
    for (int dg : {0, 31}) EXPECT_EQ("IllegalArgumentException: Incorrect DG", failureOf([&] { s.lds->readBinaryDg(dg); }));
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
