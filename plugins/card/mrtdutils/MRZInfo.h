#pragma once
// The machine-readable zone of a travel document (ICAO Doc 9303), TD1 or TD3,
// split into its fields by position.
#include <string>

namespace mrtdutils {

class FieldReader;

class MRZInfo {
public:
    // The 37 characters an MRZ is written with.
    static const std::string MRZ_CHARS;

    // Never fails on content and never reads past the end of a short text: the
    // fields beyond it come out empty or shortened.
    static MRZInfo readObject(const std::string& text);

    // One ASCII digit; throws for a character outside the MRZ set.
    static std::string checkDigit(const std::string& text);
    // 0-35; throws for a character outside the table.
    static int decodeMRZDigit(char c);
    static int documentTypeFromCode(const std::string& code);
    // Trim, turn fillers into blanks, trim again.
    static std::string trimFillers(const std::string& text);
    // Upper case, trimmed, foreign characters as fillers, filled up to `width`;
    // empty when the text is longer than `width`.
    static std::string mrzFormat(const std::string& text, size_t width);

    int getDocumentType() const { return documentType_; }
    const std::string& getMrzText() const { return mrzText_; }
    const std::string& getDocumentCode() const { return documentCode_; }
    const std::string& getIssuingState() const { return issuingState_; }
    const std::string& getPrimaryIdentifier() const { return primaryIdentifier_; }
    const std::string& getSecondaryIdentifier() const { return secondaryIdentifier_; }
    const std::string& getNationality() const { return nationality_; }
    const std::string& getDocumentNumber() const { return documentNumber_; }
    const std::string& getMrzDocumentNumber() const { return mrzDocumentNumber_; }
    const std::string& getDocumentNumberCheckDigit() const { return documentNumberCheckDigit_; }
    const std::string& getDateOfBirth() const { return dateOfBirth_; }
    const std::string& getDateOfBirthCheckDigit() const { return dateOfBirthCheckDigit_; }
    const std::string& getGender() const { return gender_; }
    const std::string& getDateOfExpiry() const { return dateOfExpiry_; }
    const std::string& getDateOfExpiryCheckDigit() const { return dateOfExpiryCheckDigit_; }
    const std::string& getOptionalData1() const { return optionalData1_; }
    const std::string& getOptionalData2() const { return optionalData2_; }
    const std::string& getCompositeCheckDigit() const { return compositeCheckDigit_; }

private:
    void readTd1(FieldReader& in);
    void readTd3(FieldReader& in);
    void readName(const std::string& field);

    int documentType_ = -1;
    std::string mrzText_;
    std::string documentCode_;
    std::string issuingState_;
    std::string primaryIdentifier_;
    std::string secondaryIdentifier_;
    std::string nationality_;
    std::string documentNumber_;
    std::string mrzDocumentNumber_;
    std::string documentNumberCheckDigit_;
    std::string dateOfBirth_;
    std::string dateOfBirthCheckDigit_;
    std::string gender_;
    std::string dateOfExpiry_;
    std::string dateOfExpiryCheckDigit_;
    std::string optionalData1_;
    std::string optionalData2_;
    std::string compositeCheckDigit_;
};

}  // namespace mrtdutils
