#include "mrtdutils/MRZInfo.h"

#include "base/AppException.h"
#include "zelvo/log.h"

namespace mrtdutils {

const std::string MRZInfo::MRZ_CHARS = "<0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && isSpace(s[b])) ++b;
    while (e > b && isSpace(s[e - 1])) --e;
    return s.substr(b, e - b);
}

}  // namespace

// Takes fields one after the other; past the end of the text a field is
// shortened or empty.
class FieldReader {
public:
    explicit FieldReader(const std::string& text, size_t position) : text_(text), pos_(position) {}
    std::string read(size_t width) {
        std::string field = pos_ < text_.size() ? text_.substr(pos_, width) : std::string();
        pos_ += width;
        return trim(field);
    }
    std::string readWithoutFillers(size_t width) { return MRZInfo::trimFillers(read(width)); }

private:
    const std::string& text_;
    size_t pos_;
};

MRZInfo MRZInfo::readObject(const std::string& text) {
    LOG_INFO("mrtdutils::MRZInfo::readObject") << "Parseando mrz";
    MRZInfo info;
    info.mrzText_ = text;
    FieldReader in(text, 0);
    info.documentCode_ = in.readWithoutFillers(2);
    info.documentType_ = info.documentCode_.empty() ? -1 : documentTypeFromCode(info.documentCode_);
    bool td1;
    if (text.size() == 88) {
        td1 = false;
        info.documentType_ = 3;
    } else if (text.size() == 90) {
        td1 = true;
        info.documentType_ = 1;
    } else {
        td1 = info.documentType_ == 1;
    }
    if (td1) info.readTd1(in);
    else info.readTd3(in);
    return info;
}

void MRZInfo::readTd1(FieldReader& in) {
    issuingState_ = in.read(3);
    documentNumber_ = in.read(9);
    documentNumberCheckDigit_ = in.read(1);
    optionalData1_ = in.readWithoutFillers(15);
    if (documentNumberCheckDigit_ == "<" && !optionalData1_.empty()) {
        // Extended number: it goes on in the optional data, whose last character
        // is then the check digit.
        documentNumber_ += optionalData1_.substr(0, optionalData1_.size() - 1);
        documentNumberCheckDigit_ = optionalData1_.substr(optionalData1_.size() - 1);
        optionalData1_.clear();
    }
    mrzDocumentNumber_ = documentNumber_;
    documentNumber_ = trimFillers(documentNumber_);
    dateOfBirth_ = in.read(6);
    dateOfBirthCheckDigit_ = in.read(1);
    gender_ = in.read(1);
    dateOfExpiry_ = in.read(6);
    dateOfExpiryCheckDigit_ = in.read(1);
    nationality_ = in.read(3);
    optionalData2_ = in.read(11);
    compositeCheckDigit_ = in.read(1);
    readName(in.read(30));
}

void MRZInfo::readTd3(FieldReader& in) {
    issuingState_ = in.read(3);
    std::string name = in.read(39);
    mrzDocumentNumber_ = in.read(9);
    documentNumber_ = trimFillers(mrzDocumentNumber_);
    documentNumberCheckDigit_ = in.read(1);
    nationality_ = in.read(3);
    dateOfBirth_ = in.read(6);
    dateOfBirthCheckDigit_ = in.read(1);
    gender_ = in.read(1);
    dateOfExpiry_ = in.read(6);
    dateOfExpiryCheckDigit_ = in.read(1);
    std::string personalNumber = in.readWithoutFillers(14);
    std::string personalNumberCheckDigit = in.read(1);
    compositeCheckDigit_ = in.read(1);
    optionalData1_ = mrzFormat(personalNumber, 14) + personalNumberCheckDigit;
    readName(name);
}

void MRZInfo::readName(const std::string& field) {
    size_t split = field.find("<<");
    if (split == std::string::npos) return;
    primaryIdentifier_ = trimFillers(field.substr(0, split));
    secondaryIdentifier_ = trimFillers(field.substr(split + 2));
}

std::string MRZInfo::trimFillers(const std::string& text) {
    std::string s = trim(text);
    for (char& c : s)
        if (c == '<') c = ' ';
    return trim(s);
}

std::string MRZInfo::mrzFormat(const std::string& text, size_t width) {
    if (text.size() > width) return "";
    std::string s = text;
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    s = trim(s);
    for (char& c : s)
        if (MRZ_CHARS.find(c) == std::string::npos || c == '\0') c = '<';
    s.append(width - s.size(), '<');
    return s;
}

int MRZInfo::documentTypeFromCode(const std::string& code) {
    if (code.size() > 2) return -1;
    if (code.empty()) return 0;
    switch (code[0]) {
        case 'A':
        case 'C':
        case 'I':
        case 'V':
            return 1;
        case 'P':
            return 3;
        default:
            return 0;
    }
}

int MRZInfo::decodeMRZDigit(char c) {
    if (c == '0' || c == '<') return 0;
    if (c >= '1' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    APP_THROW("mrtdutils::MRZInfo::decodeMRZDigit", "decodeMRZDigit", "Could not decode MRZ character");
}

std::string MRZInfo::checkDigit(const std::string& text) {
    static const int weights[3] = {7, 3, 1};
    int sum = 0;
    for (size_t i = 0; i < text.size(); ++i) sum = (sum + decodeMRZDigit(text[i]) * weights[i % 3]) % 10;
    return std::string(1, static_cast<char>('0' + sum));
}

}  // namespace mrtdutils
