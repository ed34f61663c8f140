#include "TestUtil.h"
#include "mrtdutils/CommandAPDU.h"
#include "mrtdutils/ResponseAPDU.h"

using mrtdutils::CommandAPDU;
using mrtdutils::ResponseAPDU;

namespace {

std::string encode(int nc, int ne) { return toHex(CommandAPDU(0x00, 0xB0, 0x01, 0x02, Bytes(nc, 0xAA), ne).getBytes()); }
std::string head(int nc, int ne, size_t n) { return encode(nc, ne).substr(0, n * 2); }
std::string tail(int nc, int ne, size_t n) {
    std::string s = encode(nc, ne);
    return s.substr(s.size() - n * 2);
}

}  // namespace

TEST(CommandAPDU, CasesOneAndTwo) {
    EXPECT_EQ("00b00102", encode(0, 0));                // case 1
    EXPECT_EQ("00b0010201", encode(0, 1));              // 2S
    EXPECT_EQ("00b00102ff", encode(0, 255));
    EXPECT_EQ("00b0010200", encode(0, 256));            // 256 is written 00
    EXPECT_EQ("00b00102000101", encode(0, 257));        // 2E from 257 on
    EXPECT_EQ("00b00102000000", encode(0, 65536));      // 65536 is written 00 00
    CommandAPDU c(0x00, 0xB0, 0x01, 0x02, 257);
    EXPECT_EQ(0, c.getNc());
    EXPECT_EQ(257, c.getNe());
    EXPECT_TRUE(c.getData().empty());
}

TEST(CommandAPDU, CasesThreeAndFour) {
    EXPECT_EQ("00b0010201aa", encode(1, 0));            // 3S
    EXPECT_EQ(5u + 255, encode(255, 0).size() / 2);
    EXPECT_EQ("00b00102ff", head(255, 0, 5));
    EXPECT_EQ("00b00102000100", head(256, 0, 7));       // 3E
    EXPECT_EQ(7u + 256, encode(256, 0).size() / 2);
    EXPECT_EQ("00b0010200ffff", head(65535, 0, 7));
    EXPECT_EQ("00b0010201aa01", encode(1, 1));          // 4S
    EXPECT_EQ("ff", head(255, 256, 5).substr(8));
    EXPECT_EQ("aa00", tail(255, 256, 2));               // 255 bytes and Le 256 stay short
    EXPECT_EQ(5u + 255 + 1, encode(255, 256).size() / 2);
    EXPECT_EQ("00b00102000100", head(256, 1, 7));       // 4E from 256 data bytes on
    EXPECT_EQ("0001", tail(256, 1, 2));
    EXPECT_EQ("00b00102000001", head(1, 257, 7));       // ... or from Le 257 on
    EXPECT_EQ("aa0101", tail(1, 257, 3));
    EXPECT_EQ("0000", tail(1, 65536, 2));
    EXPECT_EQ(7u + 65535 + 2, encode(65535, 65536).size() / 2);
}

TEST(CommandAPDU, DataAndHeader) {
    CommandAPDU c(0x1FF, 0x1A4, 0x04, 0x0C, hex("A0 00 00 02 47 10 01 99"), 7, 0);
    EXPECT_EQ("ffa4040c07a0000002471001", toHex(c.getBytes()));
    EXPECT_EQ("a0000002471001", toHex(c.getData()));
    EXPECT_EQ(0xFF, c.getCLA());
    EXPECT_EQ(0xA4, c.getINS());
    EXPECT_EQ(7, c.getNc());
    Bytes big(300, 0x11);
    CommandAPDU e(0x00, 0xD6, 0, 0, big, 0);
    EXPECT_EQ(big, e.getData());
    EXPECT_EQ("00b0000506", toHex(CommandAPDU::readBinary(0x00, 0x05, 6).getBytes()));
}

TEST(CommandAPDU, BadLengthsFail) {
    EXPECT_EQ("IllegalArgumentException: Offset and length must not be negative",
              failureOf([] { CommandAPDU(0, 0xB0, 0, 0, Bytes(), -1, 0); }));
    EXPECT_EQ("IllegalArgumentException: dataLength is too large",
              failureOf([] { CommandAPDU(0, 0xB0, 0, 0, Bytes(65536, 0), 0); }));
    EXPECT_EQ("IllegalArgumentException: ne must not be negative", failureOf([] { CommandAPDU(0, 0xB0, 0, 0, -1); }));
    EXPECT_EQ("IllegalArgumentException: ne is too large", failureOf([] { CommandAPDU(0, 0xB0, 0, 0, 65537); }));
    // Claiming more data than there is must not read past the vector.
    EXPECT_EQ("IllegalArgumentException: data is too short",
              failureOf([] { CommandAPDU(0, 0xB0, 0, 0, Bytes(3, 0), 4, 0); }));
}

TEST(ResponseAPDU, Splits) {
    ResponseAPDU r(hex("01 02 03 90 00"));
    EXPECT_TRUE(r.isValid());
    EXPECT_EQ(0x9000, r.getSW());
    EXPECT_EQ(0x90, r.getSW1());
    EXPECT_EQ(0x00, r.getSW2());
    EXPECT_EQ("010203", toHex(r.getData()));
    EXPECT_EQ("0102039000", toHex(r.getBytes()));

    ResponseAPDU two(hex("90 00"));
    EXPECT_TRUE(two.isValid());
    EXPECT_TRUE(two.getData().empty());

    for (const Bytes& shortAnswer : {hex("90"), Bytes()}) {
        ResponseAPDU bad(shortAnswer);
        EXPECT_FALSE(bad.isValid());
        EXPECT_EQ(0, bad.getSW());
        EXPECT_TRUE(bad.getBytes().empty());
        EXPECT_TRUE(bad.getData().empty());
    }
}

TEST(CheckSw, MessagesNameTheOperationAndTheStatusWord) {
    mrtdutils::checkSw(ResponseAPDU(hex("9000")), "selección", "T::checkSw");
    EXPECT_EQ("Respuesta de comando de selección no esperada (6a82)",
              failureOf([] { mrtdutils::checkSw(ResponseAPDU(hex("6A82")), "selección", "T::checkSw"); }));
    EXPECT_EQ("Respuesta de comando de lectura binaria no esperada (6282)",
              failureOf([] { mrtdutils::checkSw(ResponseAPDU(hex("AABB 6282")), "lectura binaria", "T::checkSw"); }));
    EXPECT_EQ("Respuesta de comando de getchallenge no esperada (6d00)",
              failureOf([] { mrtdutils::checkSw(ResponseAPDU(hex("6D00")), "getchallenge", "T::checkSw"); }));
    EXPECT_EQ("Respuesta de comando de lectura DG1 no esperada (0)",
              failureOf([] { mrtdutils::checkSw(ResponseAPDU(), "lectura DG1", "T::checkSw"); }));
    try {
        mrtdutils::checkSw(ResponseAPDU(hex("6982")), "selección", "vexapkicore::VexaPki::checkSw");
    } catch (const AppException& e) {
        EXPECT_EQ("checkSw", e.condition());
        EXPECT_EQ("vexapkicore::VexaPki::checkSw", e.function());
        EXPECT_EQ(0, e.code());
        EXPECT_EQ("", e.detail());
    }
}
