// Specimens of ICAO Doc 9303 Parts 4 and 5.
#include "TestUtil.h"
#include "mrtdutils/MRZInfo.h"

using mrtdutils::MRZInfo;

namespace {
const std::string kTd3 =
    "P<UTOERIKSSON<<ANNA<MARIA<<<<<<<<<<<<<<<<<<<"
    "L898902C36UTO7408122F1204159ZE184226B<<<<<10";
const std::string kTd1 =
    "I<UTOD231458907<<<<<<<<<<<<<<<"
    "7408122F1204159UTO<<<<<<<<<<<6"
    "ERIKSSON<<ANNA<MARIA<<<<<<<<<<";
const std::string kTd1Extended =
    "I<UTOD23145890<7349<<<<<<<<<<<"
    "7408122F1204159UTO<<<<<<<<<<<6"
    "ERIKSSON<<ANNA<MARIA<<<<<<<<<<";
}  // namespace

TEST(MRZInfo, Td3Specimen) {
    MRZInfo m = MRZInfo::readObject(kTd3);
    EXPECT_EQ(3, m.getDocumentType());
    EXPECT_EQ(kTd3, m.getMrzText());
    EXPECT_EQ("P", m.getDocumentCode());
    EXPECT_EQ("UTO", m.getIssuingState());
    EXPECT_EQ("ERIKSSON", m.getPrimaryIdentifier());
    EXPECT_EQ("ANNA MARIA", m.getSecondaryIdentifier());
    EXPECT_EQ("L898902C3", m.getDocumentNumber());
    EXPECT_EQ("L898902C3", m.getMrzDocumentNumber());
    EXPECT_EQ("6", m.getDocumentNumberCheckDigit());
    EXPECT_EQ("UTO", m.getNationality());
    EXPECT_EQ("740812", m.getDateOfBirth());
    EXPECT_EQ("2", m.getDateOfBirthCheckDigit());
    EXPECT_EQ("F", m.getGender());
    EXPECT_EQ("120415", m.getDateOfExpiry());
    EXPECT_EQ("9", m.getDateOfExpiryCheckDigit());
    EXPECT_EQ("ZE184226B<<<<<1", m.getOptionalData1());
    EXPECT_EQ("0", m.getCompositeCheckDigit());
    EXPECT_EQ(m.getDocumentNumberCheckDigit(), MRZInfo::checkDigit(m.getMrzDocumentNumber()));
    EXPECT_EQ(m.getDateOfBirthCheckDigit(), MRZInfo::checkDigit(m.getDateOfBirth()));
    EXPECT_EQ(m.getDateOfExpiryCheckDigit(), MRZInfo::checkDigit(m.getDateOfExpiry()));
}

TEST(MRZInfo, Td1Specimen) {
    MRZInfo m = MRZInfo::readObject(kTd1);
    EXPECT_EQ(1, m.getDocumentType());
    EXPECT_EQ("I", m.getDocumentCode());
    EXPECT_EQ("UTO", m.getIssuingState());
    EXPECT_EQ("D23145890", m.getDocumentNumber());
    EXPECT_EQ("7", m.getDocumentNumberCheckDigit());
    EXPECT_EQ("", m.getOptionalData1());
    EXPECT_EQ("740812", m.getDateOfBirth());
    EXPECT_EQ("F", m.getGender());
    EXPECT_EQ("120415", m.getDateOfExpiry());
    EXPECT_EQ("UTO", m.getNationality());
    EXPECT_EQ("<<<<<<<<<<<", m.getOptionalData2());
    EXPECT_EQ("6", m.getCompositeCheckDigit());
    EXPECT_EQ("ERIKSSON", m.getPrimaryIdentifier());
    EXPECT_EQ("ANNA MARIA", m.getSecondaryIdentifier());
    EXPECT_EQ("7", MRZInfo::checkDigit(m.getMrzDocumentNumber()));
}

TEST(MRZInfo, Td1ExtendedDocumentNumber) {
    MRZInfo m = MRZInfo::readObject(kTd1Extended);
    EXPECT_EQ("D23145890734", m.getDocumentNumber());
    EXPECT_EQ("D23145890734", m.getMrzDocumentNumber());
    EXPECT_EQ("9", m.getDocumentNumberCheckDigit());
    EXPECT_EQ("", m.getOptionalData1());
    EXPECT_EQ("9", MRZInfo::checkDigit(m.getMrzDocumentNumber()));
    EXPECT_EQ("740812", m.getDateOfBirth());
}

TEST(MRZInfo, NumberWithFillerAndNames) {
    std::string t = kTd3;
    t.replace(44, 9, "AB123456<");  // an 8-character number padded with one filler
    MRZInfo m = MRZInfo::readObject(t);
    EXPECT_EQ("AB123456<", m.getMrzDocumentNumber());
    EXPECT_EQ("AB123456", m.getDocumentNumber());

    std::string noSplit = kTd3;
    noSplit.replace(5, 39, "ERIKSSON<ANNA" + std::string(26, 'X'));  // no "<<" in the name field
    MRZInfo n = MRZInfo::readObject(noSplit);
    EXPECT_EQ("", n.getPrimaryIdentifier());
    EXPECT_EQ("", n.getSecondaryIdentifier());
}

TEST(MRZInfo, LayoutByLength) {
    // 90 characters are TD1 whatever the code; 88 are TD3.
    std::string td1AsP = kTd1;
    td1AsP[0] = 'P';
    MRZInfo a = MRZInfo::readObject(td1AsP);
    EXPECT_EQ(1, a.getDocumentType());
    EXPECT_EQ("D23145890", a.getDocumentNumber());
    std::string td3AsI = kTd3;
    td3AsI[0] = 'I';
    MRZInfo b = MRZInfo::readObject(td3AsI);
    EXPECT_EQ(3, b.getDocumentType());
    EXPECT_EQ("L898902C3", b.getDocumentNumber());
    // Other lengths follow the code.
    EXPECT_EQ(1, MRZInfo::readObject(kTd1.substr(0, 60)).getDocumentType());
    EXPECT_EQ(3, MRZInfo::readObject(kTd3.substr(0, 60)).getDocumentType());
    EXPECT_EQ(0, MRZInfo::readObject("X<UTO").getDocumentType());
    EXPECT_EQ(-1, MRZInfo::readObject("").getDocumentType());
}

TEST(MRZInfo, ShortTextsNeverReadPastTheirEnd) {
    for (size_t n = 0; n <= kTd3.size(); ++n) {
        MRZInfo m = MRZInfo::readObject(kTd3.substr(0, n));
        EXPECT_LE(m.getDocumentNumber().size(), 9u);
    }
    for (size_t n = 0; n <= kTd1Extended.size(); ++n) MRZInfo::readObject(kTd1Extended.substr(0, n));
    MRZInfo cut = MRZInfo::readObject(kTd3.substr(0, 60));
    EXPECT_EQ("L898902C3", cut.getDocumentNumber());
    EXPECT_EQ("740", cut.getDateOfBirth());
    EXPECT_EQ("", cut.getDateOfExpiry());
    EXPECT_EQ("<<<<<<<<<<<<<<", cut.getOptionalData1());
}

TEST(MRZInfo, CheckDigitAndDecoding) {
    EXPECT_EQ("0", MRZInfo::checkDigit(""));
    EXPECT_EQ("0", MRZInfo::checkDigit("<<<"));
    EXPECT_EQ(MRZInfo::checkDigit("L898902C3"), MRZInfo::checkDigit("l898902c3"));
    EXPECT_EQ(MRZInfo::checkDigit("Z"), MRZInfo::checkDigit("z"));
    EXPECT_EQ(0, MRZInfo::decodeMRZDigit('<'));
    EXPECT_EQ(9, MRZInfo::decodeMRZDigit('9'));
    EXPECT_EQ(35, MRZInfo::decodeMRZDigit('Z'));
    EXPECT_EQ("Could not decode MRZ character", failureOf([] { MRZInfo::decodeMRZDigit('#'); }));
    EXPECT_EQ("Could not decode MRZ character", failureOf([] { MRZInfo::checkDigit("12 4"); }));
}

TEST(MRZInfo, Helpers) {
    EXPECT_EQ("ANNA MARIA", MRZInfo::trimFillers(" <ANNA<MARIA<< "));
    EXPECT_EQ("AB<CD<<<", MRZInfo::mrzFormat(" ab cd", 8));
    EXPECT_EQ("", MRZInfo::mrzFormat("ABCDEFGHI", 8));
    EXPECT_EQ("<<<<", MRZInfo::mrzFormat("", 4));
    EXPECT_EQ(-1, MRZInfo::documentTypeFromCode("PPP"));
    EXPECT_EQ(1, MRZInfo::documentTypeFromCode("AC"));
    EXPECT_EQ(1, MRZInfo::documentTypeFromCode("V"));
    EXPECT_EQ(3, MRZInfo::documentTypeFromCode("PO"));
    EXPECT_EQ(0, MRZInfo::documentTypeFromCode("X"));
}
