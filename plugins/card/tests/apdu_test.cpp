#include "TestUtil.h"
#include "mrtdutils/CommandAPDU.h"
#include "mrtdutils/ResponseAPDU.h"

using mrtdutils::CommandAPDU;
using mrtdutils::ResponseAPDU;

TEST(CommandAPDU, TheFourCasesInShortAndExtendedForm) {
    struct Row {
        int nc, ne;
        size_t size;
        std::string head, tail;  // the first and the last bytes of the encoding
    };
    const Row rows[] = {
        {0, 0, 4, "00b00102", ""},                       // case 1
        {0, 1, 5, "00b0010201", ""},                     // 2S
        {0, 255, 5, "00b00102ff", ""},
        {0, 256, 5, "00b0010200", ""},                   // 256 is written 00
        {0, 257, 7, "00b00102000101", ""},               // 2E from 257 on
        {0, 65536, 7, "00b00102000000", ""},             // 65536 is written 00 00
        {1, 0, 6, "00b0010201aa", ""},                   // 3S
        {255, 0, 5 + 255, "00b00102ff", "aa"},
        {256, 0, 7 + 256, "00b00102000100", "aa"},       // 3E
        {65535, 0, 7 + 65535, "00b0010200ffff", "aa"},
        {1, 1, 7, "00b0010201aa01", ""},                 // 4S
        {255, 256, 5 + 255 + 1, "00b00102ff", "aa00"},   // 255 bytes and Le 256 stay short
        {256, 1, 7 + 256 + 2, "00b00102000100", "0001"}, // 4E from 256 data bytes on
        {1, 257, 7 + 1 + 2, "00b00102000001", "aa0101"}, // ... or from Le 257 on
        {1, 65536, 7 + 1 + 2, "00b00102000001", "0000"},
        {65535, 65536, 7 + 65535 + 2, "00b0010200ffff", "aa0000"},
    };
    for (const Row& row : rows) {
        std::string s = toHex(CommandAPDU(0x00, 0xB0, 0x01, 0x02, Bytes(row.nc, 0xAA), row.ne).getBytes());
        ASSERT_EQ(row.size * 2, s.size()) << row.nc << " " << row.ne;
        EXPECT_EQ(row.head, s.substr(0, row.head.size())) << row.nc << " " << row.ne;
        EXPECT_EQ(row.tail, s.substr(s.size() - row.tail.size())) << row.nc << " " << row.ne;
    }
    CommandAPDU c(0x00, 0xB0, 0x01, 0x02, 257);
    EXPECT_EQ(0, c.getNc());
    EXPECT_EQ(257, c.getNe());
    EXPECT_TRUE(c.getData().empty());
}

TEST(CommandAPDU, DataAndHeader) {
    CommandAPDU c(0x1FF, 0x1A4, 0x04, 0x0C, hex("A0 00 00 02 47 10 01 99"), 7, 0);
    EXPECT_EQ("ffa4040c07a0000002471001", toHex(c.getBytes()));
    EXPECT_EQ("a0000002471001", toHex(c.getData()));
    EXPECT_EQ(0xFF, c.getCLA());
    EXPECT_EQ(0xA4, c.getINS());
    EXPECT_EQ(7, c.getNc());
    EXPECT_EQ(Bytes(300, 0x11), CommandAPDU(0x00, 0xD6, 0, 0, Bytes(300, 0x11), 0).getData());
    EXPECT_EQ("00b0000506", toHex(CommandAPDU::readBinary(0x00, 0x05, 6).getBytes()));
}

TEST(CommandAPDU, BadLengthsFail) {
    const std::string bad = "IllegalArgumentException: ";
    EXPECT_EQ(bad + "Offset and length must not be negative", failureOf([] { CommandAPDU(0, 0xB0, 0, 0, Bytes(), -1, 0); }));
    EXPECT_EQ(bad + "dataLength is too large", failureOf([] { CommandAPDU(0, 0xB0, 0, 0, Bytes(65536, 0), 0); }));
    EXPECT_EQ(bad + "ne must not be negative", failureOf([] { CommandAPDU(0, 0xB0, 0, 0, -1); }));
    EXPECT_EQ(bad + "ne is too large", failureOf([] { CommandAPDU(0, 0xB0, 0, 0, 65537); }));
    // Claiming more data than there is must not read past the vector.
    EXPECT_EQ(bad + "data is too short", failureOf([] { CommandAPDU(0, 0xB0, 0, 0, Bytes(3, 0), 4, 0); }));
}

TEST(ResponseAPDU, SplitsDataAndStatusWordAndRefusesLessThanTwoBytes) {
    auto split = [](const Bytes& bytes) {
        ResponseAPDU r(bytes);
        return std::to_string(r.isValid()) + " " + toHex(r.getData()) + " " + std::to_string(r.getSW1()) + " " +
               std::to_string(r.getSW2()) + " " + std::to_string(r.getSW()) + " " + toHex(r.getBytes());
    };
    EXPECT_EQ("1 010203 98 130 25218 0102036282", split(hex("01 02 03 62 82")));
    EXPECT_EQ("1  144 0 36864 9000", split(hex("90 00")));
    EXPECT_EQ("0  0 0 0 ", split(hex("90")));
    EXPECT_EQ("0  0 0 0 ", split(Bytes()));
}

TEST(CheckSw, MessagesNameTheOperationAndTheStatusWord) {
    mrtdutils::checkSw(ResponseAPDU(hex("9000")), "selección", "T::checkSw");
    const std::tuple<ResponseAPDU, const char*, const char*> rows[] = {
        {ResponseAPDU(hex("AABB 6282")), "lectura binaria", "Respuesta de comando de lectura binaria no esperada (6282)"},
        {ResponseAPDU(), "lectura DG1", "Respuesta de comando de lectura DG1 no esperada (0)"},
    };
    for (const auto& [response, operation, message] : rows)
        EXPECT_EQ(message, failureOf([&] { mrtdutils::checkSw(response, operation, "T::checkSw"); }));
    try {
        mrtdutils::checkSw(ResponseAPDU(hex("6982")), "selección", "vexapkicore::VexaPki::checkSw");
        ADD_FAILURE() << "6982 accepted";
    } catch (const AppException& e) {
        EXPECT_EQ("checkSw", e.condition());
        EXPECT_EQ("vexapkicore::VexaPki::checkSw", e.function());
        EXPECT_EQ(0, e.code());
        EXPECT_EQ("", e.detail());
    }
}
