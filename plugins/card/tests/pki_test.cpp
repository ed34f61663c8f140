#include "TestUtil.h"
#include "vexapkicore/VexaPki.h"

using vexapkicore::VexaPki;

namespace {

std::string filled(size_t n, uint8_t first = 0) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(first + i);
    return toHex(b);
}

const std::string kChunk = filled(256) + "9000";

}  // namespace

TEST(VexaPki, Select) {
    ScriptedChannel card;
    card.expect("00A4 0400 10 A0000000770100700A1000F100000100", "9000")
        .expect("00A4 0000 02 3F00", "6F0A 9000")
        .expect("00A4 0000 02 FD01", "6A82");
    auto pki = VexaPki::getInstance(card);
    const uint8_t pkiAid[] = {0xA0, 0x00, 0x00, 0x00, 0x77, 0x01, 0x00, 0x70, 0x0A, 0x10, 0x00, 0xF1, 0x00, 0x00, 0x01, 0x00};
    const uint8_t masterFile[] = {0x3F, 0x00}, abi[] = {0xFD, 0x01};
    EXPECT_EQ("", toHex(pki->select(0x04, pkiAid, sizeof pkiAid)));
    EXPECT_EQ("6f0a", toHex(pki->select(0x00, masterFile, sizeof masterFile)));
    EXPECT_EQ("Respuesta de comando de selección no esperada (6a82)", failureOf([&] { pki->select(0x00, abi, 2); }));
}

TEST(VexaPki, ReadBinaryFollowsTheCardsStatusWords) {
    struct Row {
        std::vector<std::pair<std::string, std::string>> script;
        int offset;          // of the one chunk read; -1: the whole file
        size_t size;         // of what is read
        std::string failure;
    };
    const std::string unexpected = "Respuesta de comando de lectura binaria no esperada ";
    const Row rows[] = {
        // A wrong length is read again with the length the card gives, once. Files of
        // several chunks, 6Cxx with data, and 6B00 or 6282 at the end are read end to end.
        {{{"00B0 0010 00", "6C00"}}, 0x10, 0, ""},
        {{{"00B0 0000 00", "6C20"}, {"00B0 0000 20", "6C10"}}, 0, 0, unexpected + "(6c10)"},
        // A file of whole chunks ends at the card's end-of-file answer, even 9000 without data.
        {{{"00B0 0000 00", kChunk}, {"00B0 0100 00", kChunk}, {"00B0 0200 00", "9000"}}, -1, 512, ""},
        // 6282 with data, and 6B00 at the start, are still failures.
        {{{"00B0 0000 00", kChunk}, {"00B0 0100 00", "0102 6282"}}, -1, 0, unexpected + "(6282)"},
        {{{"00B0 0000 00", "6B00"}}, -1, 0, unexpected + "(6b00)"},
    };
    for (const Row& row : rows) {
        ScriptedChannel card;
        for (const auto& [command, answer] : row.script) card.expect(command, answer);
        auto pki = VexaPki::getInstance(card);
        if (row.failure.empty()) {
            Bytes file = row.offset < 0 ? pki->readBinary() : pki->readBinary(row.offset);
            EXPECT_EQ(row.size, file.size()) << row.script.back().second;
        } else {
            EXPECT_EQ(row.failure, failureOf([&] { row.offset < 0 ? pki->readBinary() : pki->readBinary(row.offset); }));
        }
    }
}

TEST(VexaPki, AFileNeverEndingStopsAtTheLastAddressableOffset) {
    ScriptedChannel card;
    for (int offset = 0; offset < 32768; offset += 256) {
        char command[16];
        std::snprintf(command, sizeof command, "00B0%04X00", offset);
        card.expect(command, kChunk);
    }
    EXPECT_EQ(32768u, VexaPki::getInstance(card)->readBinary().size());
    EXPECT_EQ("IllegalArgumentException: Offset out of range",
              failureOf([&] { VexaPki::getInstance(card)->readBinary(32768); }));
}

TEST(VexaPki, PinCommandsReturnTheStatusWord) {
    ScriptedChannel card;
    card.expect("0020 0001 08 31323334 FFFFFFFF", "63C2")
        .expect("0020 0004 00", "6983")
        .expect("0020 0001 08 3132333435363738", "9000")
        .expect("0024 0004 10 31323334FFFFFFFF 3132333435363738", "9000");
    auto pki = VexaPki::getInstance(card);
    const uint8_t four[] = {'1', '2', '3', '4'};
    const uint8_t nine[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(0x63C2, pki->verifyPassphrase(1, four, 4));
    EXPECT_EQ(0x6983, pki->verifyPassphrase(4, nullptr, 0));
    EXPECT_EQ(0x9000, pki->verifyPassphrase(1, nine, 9));  // beyond the eighth byte nothing is sent
    EXPECT_EQ(0x9000, pki->changeReferenceData(4, four, 4, nine, 8));
}
