// The card facade and the read and change-PIN actions' own logic, against
// scripted card conversations.
#include "TestUtil.h"
#include "app/ABI.h"
#include "app/PinDialog.h"
#include "app/ReadVexaAction.h"
#include "app/Utf8.h"
#include "app/Vexa.h"
#include "vexaldscore/VexaLds.h"
#include "vexapkicore/VexaPki.h"

namespace {

const char* const kSelectPki = "00A4040010 A0000000770100700A1000F100000100";

struct Facade {
    ScriptedChannel card;
    std::unique_ptr<vexapkicore::VexaPki> pki = vexapkicore::VexaPki::getInstance(card);
    std::unique_ptr<vexaldscore::VexaLds> lds = vexaldscore::VexaLds::getInstance(card);
    Vexa vexa{*pki, *lds};
};

// The holder's data file: a header with the length of the tag list, the list, then objects.
Bytes abiFile(const std::vector<std::pair<std::string, std::string>>& objects, size_t tagList) {
    Bytes f = Bytes{0x01, 0x02, 0x03, static_cast<uint8_t>(tagList)} + Bytes(tagList, 0xEE);
    for (const auto& o : objects) f = f + hex(o.first) + Bytes{static_cast<uint8_t>(o.second.size())} + ascii(o.second);
    return f;
}

}  // namespace

// Reading the whole file, Latin-1 values and a cut file are proved end to end.
TEST(ABI, ParsesKnownTagsSkipsOthersAndKeepsOnlyWholeObjects) {
    // The tag list claims four objects; the second runs past the end and the rest is not there.
    Bytes cut = abiFile({{"5F60", "40912345"}, {"5F62", "NUNEZ PEÑALOZA"}}, 8);
    cut.resize(cut.size() - 3);
    const std::pair<Bytes, std::string> rows[] = {
        // A later object replaces an earlier one.
        {abiFile({{"5F60", "40912345"}, {"5F65", "ANCASH"}, {"5F62", "NUNEZ"}, {"5F6A", "F"}, {"5F21", "140105"},
                  {"5F22", "002345"}, {"5F62", "OTRO"}}, 14),
         "40912345|OTRO||F|140105|002345"},
        {abiFile({{"5F60", "1"}}, 0), "|||||"},
        {abiFile({{"5F60", "1"}}, 1), "|||||"},
        {Bytes{0x01, 0x02}, "|||||"},
        {Bytes{0x00, 0x00, 0x00, 0xFF, 0x5F}, "|||||"},  // a tag list longer than the file
        {cut, "40912345|||||"},
    };
    for (const auto& [file, expected] : rows) {
        ABI abi;
        abi.parse(file);
        EXPECT_EQ(expected, abi.cui + "|" + abi.primerAp + "|" + abi.segundoAp + "|" + abi.genero + "|" + abi.ubigeo +
                                "|" + abi.grupoVotacion)
            << toHex(file);
    }
}

// Whole dates, images in Base64 and Latin-1 values are proved end to end.
TEST(ReadVexaAction, ShortDatesEmptyImagesAndUtf8) {
    EXPECT_EQ("8503", ReadVexaAction::convertDate("8503"));
    EXPECT_EQ("", ReadVexaAction::convertDate(""));
    const uint8_t zero[] = {0};
    EXPECT_EQ("AA==", ReadVexaAction::toBase64(zero, 1));
    EXPECT_EQ("", ReadVexaAction::toBase64(zero, 0));
    EXPECT_EQ("N\xC3\x9A\xC3\x91\x45Z", asUtf8("N\xC3\x9A\xC3\x91\x45Z")) << "UTF-8 passes unchanged";
    for (const char* bad : {"\xC3", "\xC0\x80", "\xED\xA0\x80"}) EXPECT_FALSE(isValidUtf8(bad)) << bad;
    EXPECT_TRUE(isValidUtf8("\xF0\x9F\x98\x80"));
}

TEST(Vexa, SelectsEachApplicationOnlyWhenNeeded) {
    Facade f;
    f.card.expect("00A4040C07 A0000002471001", "9000")
        .expect("00B600005D", "615B5F1F58" + std::string(176, '3') + "9000");
    f.vexa.selectLds();
    f.vexa.leerDg1();
    // The ABI after the LDS: the PKI application and the master file again; then
    // the PKI application is not selected a second time.
    const std::string file = toHex(abiFile({{"5F60", "40912345"}}, 2)) + "9000";
    f.card.expect(kSelectPki, "9000").expect("00A40000023F00", "9000").expect("00A4000002FD01", "9000");
    f.card.expect("00B0000000", file);
    EXPECT_EQ("40912345", f.vexa.leerABI().cui);
    f.card.expect("00A40000023F00", "9000").expect("00A4000002FD01", "9000").expect("00B0000000", file);
    f.vexa.leerABI();
}

TEST(Vexa, AFailedBacIsNotRepeated) {
    // BAC is marked done before it runs: a failed BAC is not tried again in the same session.
    Facade f;
    f.card.expect("00A4040C07 A0000002471001", "9000").expect("00B600005D", "6A82");
    EXPECT_EQ("Respuesta de comando de lectura DG1 no esperada (6a82)", failureOf([&] { f.vexa.leerFoto(); }));
    EXPECT_EQ("IllegalArgumentException: messaging wrapper is null", failureOf([&] { f.vexa.leerFirma(); }));
}

// A wrong PIN, a blocked one and a change are answered end to end; here the
// answers no card should give, and a credential that is neither PIN.
TEST(Vexa, CambiarPinRefusesUnexpectedAnswersAndCredentials) {
    const std::tuple<std::string, std::string, std::string, std::string> rows[] = {
        {"6A88", "", "", "Respuesta de verificación de pin incorrecta"},
        {"9000", "0024000110 31323334FFFFFFFF 35363738FFFFFFFF", "6A80", "Respuesta de actualización de pin incorrecta"},
    };
    for (const auto& [verifyAnswer, change, changeAnswer, message] : rows) {
        Facade f;
        f.card.expect(kSelectPki, "9000").expect("0020000108 31323334FFFFFFFF", verifyAnswer);
        if (!change.empty()) f.card.expect(change, changeAnswer);
        EXPECT_EQ(message, failureOf([&] { f.vexa.cambiarPin(1, "1234", "5678"); }));
    }
    Facade f;
    f.card.expect(kSelectPki, "9000");
    EXPECT_EQ("El ID de la credencial no es válido", failureOf([&] { f.vexa.cambiarPin(2, "1234", "5678"); }));
}

TEST(PinDialog, AnswerIsTwoPinsOfDigits) {
    std::string current, next;
    EXPECT_TRUE(PinDialog::parseAnswer("1234\n56789012\n", current, next));
    EXPECT_EQ("1234/56789012", current + "/" + next);
    for (const char* bad : {"", "1234", "1234\n", "1234\n5678", "1234\n5678\nx\n", "\n5678\n", "12a4\n5678\n",
                            "1234\n123456789\n", "1234 \n5678\n"}) {
        std::string c, n;
        EXPECT_FALSE(PinDialog::parseAnswer(bad, c, n)) << bad;
        EXPECT_EQ("", c);
    }
}
