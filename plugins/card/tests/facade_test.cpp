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

Bytes abiFile(const std::vector<std::pair<std::string, std::string>>& objects, size_t tagList) {
    Bytes f{0x01, 0x02, 0x03, static_cast<uint8_t>(tagList)};
    for (size_t i = 0; i < tagList; ++i) f.push_back(0xEE);
    for (const auto& o : objects) {
        Bytes tag = hex(o.first);
        f.insert(f.end(), tag.begin(), tag.end());
        f.push_back(static_cast<uint8_t>(o.second.size()));
        f.insert(f.end(), o.second.begin(), o.second.end());
    }
    return f;
}

}  // namespace

TEST(ABI, ParsesKnownTagsAndSkipsOthers) {
    ABI abi;
    abi.parse(abiFile({{"5F60", "40912345"}, {"5F65", "ANCASH"}, {"5F62", "NUNEZ"}, {"5F6A", "F"},
                       {"5F21", "140105"}, {"5F22", "002345"}, {"5F62", "OTRO"}},
                      14));
    EXPECT_EQ("40912345", abi.cui);
    EXPECT_EQ("OTRO", abi.primerAp);  // a later object replaces an earlier one
    EXPECT_EQ("F", abi.genero);
    EXPECT_EQ("140105", abi.ubigeo);
    EXPECT_EQ("002345", abi.grupoVotacion);
    EXPECT_EQ("", abi.segundoAp);
}

TEST(ABI, ShortAndLyingFiles) {
    for (size_t l : {0u, 1u}) {
        ABI abi;
        abi.parse(abiFile({{"5F60", "1"}}, l));
        EXPECT_EQ("", abi.cui) << l;
    }
    ABI empty;
    empty.parse(Bytes{0x01, 0x02});
    EXPECT_EQ("", empty.cui);
    // The tag list claims four objects; the second runs past the end and the rest is not there.
    Bytes f = abiFile({{"5F60", "40912345"}, {"5F62", "NUNEZ PEÑALOZA"}}, 8);
    f.resize(f.size() - 3);
    ABI cut;
    cut.parse(f);
    EXPECT_EQ("40912345", cut.cui);
    EXPECT_EQ("", cut.primerAp);
    // A tag list longer than the file.
    ABI past;
    past.parse(Bytes{0x00, 0x00, 0x00, 0xFF, 0x5F});
    EXPECT_EQ("", past.cui);
}

TEST(ReadVexaAction, DatesBase64AndText) {
    EXPECT_EQ("15/03/85", ReadVexaAction::convertDate("850315"));
    EXPECT_EQ("8503", ReadVexaAction::convertDate("8503"));
    EXPECT_EQ("", ReadVexaAction::convertDate(""));
    const uint8_t abc[] = {'a', 'b', 'c'}, zero[] = {0};
    EXPECT_EQ("YWJj", ReadVexaAction::toBase64(abc, 3));
    EXPECT_EQ("AA==", ReadVexaAction::toBase64(zero, 1));
    EXPECT_EQ("", ReadVexaAction::toBase64(abc, 0));
    // Latin-1 from the card becomes UTF-8; UTF-8 passes unchanged.
    EXPECT_EQ("N\xC3\x9A\xC3\x91\x45Z", asUtf8("N\xDA\xD1\x45Z"));
    EXPECT_EQ("N\xC3\x9A\xC3\x91\x45Z", asUtf8("N\xC3\x9A\xC3\x91\x45Z"));
    EXPECT_FALSE(isValidUtf8("\xC3"));
    EXPECT_FALSE(isValidUtf8("\xC0\x80"));
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));
    EXPECT_TRUE(isValidUtf8("\xF0\x9F\x98\x80"));
}

TEST(Vexa, SelectsEachApplicationOnlyWhenNeeded) {
    Facade f;
    f.card.expect("00A4040C07 A0000002471001", "9000")
        .expect("00B600005D", "615B5F1F58" + std::string(176, '3') + "9000");
    f.vexa.selectLds();
    f.vexa.leerDg1();
    // The ABI after the LDS: the PKI application and the master file again.
    Bytes file = abiFile({{"5F60", "40912345"}}, 2);
    f.card.expect(kSelectPki, "9000")
        .expect("00A40000023F00", "9000")
        .expect("00A4000002FD01", "9000")
        .expect("00B0000000", toHex(file) + "9000");
    EXPECT_EQ("40912345", f.vexa.leerABI().cui);
    f.card.expect("00A40000023F00", "9000")
        .expect("00A4000002FD01", "9000")
        .expect("00B0000000", toHex(file) + "9000");
    f.vexa.leerABI();
}

TEST(Vexa, AFailedBacIsNotRepeated) {
    // BAC is marked done before it runs: a failed BAC is not tried again in the same session.
    Facade f;
    f.card.expect("00A4040C07 A0000002471001", "9000").expect("00B600005D", "6A82");
    EXPECT_EQ("Respuesta de comando de lectura DG1 no esperada (6a82)", failureOf([&] { f.vexa.leerFoto(); }));
    EXPECT_EQ("IllegalArgumentException: messaging wrapper is null", failureOf([&] { f.vexa.leerFirma(); }));
}

TEST(Vexa, CambiarPin) {
    Facade f;
    f.card.expect(kSelectPki, "9000").expect("0020000108 31323334FFFFFFFF", "63C2");
    CredentialResult r = f.vexa.cambiarPin(1, "1234", "5678");
    EXPECT_EQ("PIN incorrecto. Quedan 2 intentos", r.message);
    EXPECT_EQ(CredentialStatus::WRONG_PIN, r.status);
    EXPECT_EQ(2, r.remainingTries);

    f.card.expect("0020000408 31323334FFFFFFFF", "6983");
    r = f.vexa.cambiarPin(4, "1234", "5678");
    EXPECT_EQ("PIN bloqueado", r.message);
    EXPECT_EQ(CredentialStatus::BLOCKED, r.status);

    f.card.expect("0020000408 31323334FFFFFFFF", "9000")
        .expect("0024000410 31323334FFFFFFFF 3132333435363738", "9000");
    r = f.vexa.cambiarPin(4, "1234", "12345678");
    EXPECT_EQ("PIN actualizado correctamente", r.message);
    EXPECT_EQ(CredentialStatus::OK, r.status);
    EXPECT_EQ(3, r.remainingTries);

    EXPECT_EQ("El ID de la credencial no es válido", failureOf([&] { f.vexa.cambiarPin(2, "1234", "5678"); }));
    f.card.expect("0020000108 31323334FFFFFFFF", "6A88");
    EXPECT_EQ("Respuesta de verificación de pin incorrecta", failureOf([&] { f.vexa.cambiarPin(1, "1234", "5678"); }));
    f.card.expect("0020000108 31323334FFFFFFFF", "9000").expect("0024000110 31323334FFFFFFFF 35363738FFFFFFFF", "6A80");
    EXPECT_EQ("Respuesta de actualización de pin incorrecta",
              failureOf([&] { f.vexa.cambiarPin(1, "1234", "5678"); }));
}

TEST(PinDialog, AnswerIsTwoPinsOfDigits) {
    std::string current, next;
    EXPECT_TRUE(PinDialog::parseAnswer("1234\n56789012\n", current, next));
    EXPECT_EQ("1234", current);
    EXPECT_EQ("56789012", next);
    for (const char* bad : {"", "1234", "1234\n", "1234\n5678", "1234\n5678\nx\n", "\n5678\n", "12a4\n5678\n",
                            "1234\n123456789\n", "1234 \n5678\n"}) {
        std::string c, n;
        EXPECT_FALSE(PinDialog::parseAnswer(bad, c, n)) << bad;
        EXPECT_EQ("", c);
    }
}
