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

// Every field, '|' between them, in the order of the getters.
std::string fields(const std::string& text) {
    MRZInfo m = MRZInfo::readObject(text);
    std::string out = std::to_string(m.getDocumentType());
    for (const std::string* f :
         {&m.getDocumentCode(), &m.getIssuingState(), &m.getPrimaryIdentifier(), &m.getSecondaryIdentifier(),
          &m.getNationality(), &m.getDocumentNumber(), &m.getMrzDocumentNumber(), &m.getDocumentNumberCheckDigit(),
          &m.getDateOfBirth(), &m.getDateOfBirthCheckDigit(), &m.getGender(), &m.getDateOfExpiry(),
          &m.getDateOfExpiryCheckDigit(), &m.getOptionalData1(), &m.getOptionalData2(), &m.getCompositeCheckDigit()})
        out += "|" + *f;
    return out;
}

std::string replaced(std::string text, size_t at, const std::string& with) { return text.replace(at, with.size(), with); }

}  // namespace

TEST(MRZInfo, SpecimensAndTheirVariants) {
    const std::pair<std::string, std::string> rows[] = {
        {kTd3, "3|P|UTO|ERIKSSON|ANNA MARIA|UTO|L898902C3|L898902C3|6|740812|2|F|120415|9|ZE184226B<<<<<1||0"},
        {kTd1, "1|I|UTO|ERIKSSON|ANNA MARIA|UTO|D23145890|D23145890|7|740812|2|F|120415|9||<<<<<<<<<<<|6"},
        {kTd1Extended, "1|I|UTO|ERIKSSON|ANNA MARIA|UTO|D23145890734|D23145890734|9|740812|2|F|120415|9||<<<<<<<<<<<|6"},
        // An 8-character number padded with one filler.
        {replaced(kTd3, 44, "AB123456<"),
         "3|P|UTO|ERIKSSON|ANNA MARIA|UTO|AB123456|AB123456<|6|740812|2|F|120415|9|ZE184226B<<<<<1||0"},
        // No "<<" in the name field: no names.
        {replaced(kTd3, 5, "ERIKSSON<ANNA" + std::string(26, 'X')),
         "3|P|UTO|||UTO|L898902C3|L898902C3|6|740812|2|F|120415|9|ZE184226B<<<<<1||0"},
        // 90 characters are TD1 whatever the code; 88 are TD3.
        {replaced(kTd1, 0, "P"), "1|P|UTO|ERIKSSON|ANNA MARIA|UTO|D23145890|D23145890|7|740812|2|F|120415|9||<<<<<<<<<<<|6"},
        {replaced(kTd3, 0, "I"),
         "3|I|UTO|ERIKSSON|ANNA MARIA|UTO|L898902C3|L898902C3|6|740812|2|F|120415|9|ZE184226B<<<<<1||0"},
        // Other lengths follow the code, and every field stops at the end of the text.
        {kTd1.substr(0, 60), "1|I|UTO|||UTO|D23145890|D23145890|7|740812|2|F|120415|9||<<<<<<<<<<<|6"},
        {kTd3.substr(0, 60), "3|P|UTO|ERIKSSON|ANNA MARIA|UTO|L898902C3|L898902C3|6|740|||||<<<<<<<<<<<<<<||"},
        {"X<UTO", "0|X|UTO||||||||||||<<<<<<<<<<<<<<||"},
        {"", "-1||||||||||||||<<<<<<<<<<<<<<||"},
    };
    for (const auto& [text, expected] : rows) EXPECT_EQ(expected, fields(text)) << text;
    for (const std::string& text : {kTd3, kTd1, kTd1Extended}) {
        MRZInfo m = MRZInfo::readObject(text);
        EXPECT_EQ(m.getDocumentNumberCheckDigit(), MRZInfo::checkDigit(m.getMrzDocumentNumber()));
        EXPECT_EQ(m.getDateOfBirthCheckDigit(), MRZInfo::checkDigit(m.getDateOfBirth()));
        EXPECT_EQ(m.getDateOfExpiryCheckDigit(), MRZInfo::checkDigit(m.getDateOfExpiry()));
    }
    // Every cut of a specimen keeps the number within its field.
    for (size_t n = 0; n <= kTd3.size(); ++n) EXPECT_LE(MRZInfo::readObject(kTd3.substr(0, n)).getDocumentNumber().size(), 9u);
}

TEST(MRZInfo, CheckDigitAndDecoding) {
    EXPECT_EQ("0", MRZInfo::checkDigit(""));
    EXPECT_EQ("0", MRZInfo::checkDigit("<<<"));
    EXPECT_EQ(MRZInfo::checkDigit("L898902C3"), MRZInfo::checkDigit("l898902c3"));
    EXPECT_EQ(MRZInfo::checkDigit("Z"), MRZInfo::checkDigit("z"));
    for (auto [c, value] : {std::pair{'<', 0}, {'9', 9}, {'Z', 35}}) EXPECT_EQ(value, MRZInfo::decodeMRZDigit(c)) << c;
    EXPECT_EQ("Could not decode MRZ character", failureOf([] { MRZInfo::decodeMRZDigit('#'); }));
    EXPECT_EQ("Could not decode MRZ character", failureOf([] { MRZInfo::checkDigit("12 4"); }));
}

TEST(MRZInfo, Helpers) {
    EXPECT_EQ("ANNA MARIA", MRZInfo::trimFillers(" <ANNA<MARIA<< "));
    EXPECT_EQ("AB<CD<<<", MRZInfo::mrzFormat(" ab cd", 8));
    EXPECT_EQ("", MRZInfo::mrzFormat("ABCDEFGHI", 8));
    EXPECT_EQ("<<<<", MRZInfo::mrzFormat("", 4));
    for (auto [code, type] : {std::pair{"PPP", -1}, {"AC", 1}, {"V", 1}, {"PO", 3}, {"X", 0}})
        EXPECT_EQ(type, MRZInfo::documentTypeFromCode(code)) << code;
}
