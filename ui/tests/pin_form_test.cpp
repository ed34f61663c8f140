#include "PinForm.h"

#include <gtest/gtest.h>

using namespace zelvo::ui;

namespace {
// "text|caption", or "" when the PIN is accepted.
std::string notice(const std::string& label, const std::string& pin) {
    auto n = validatePin(label, pin);
    return n ? n->text + "|" + n->caption : "";
}
}  // namespace

TEST(ValidatePin, ChecksPresenceThenLengthThenDigitsCountingCharacters) {
    const std::string digits = " solo debe tener dígitos (0-9).|Información incorrecta";
    const std::pair<std::string, std::string> rows[] = {
        {"", "El PIN actual es requerido|Información incorrecta."},
        // Too long and not digits: the length is reported first.
        {"123456789a", "El PIN actual no puede tener mas de 8 caracteres.|Información incorrecta"},
        {"12a4", "El PIN actual" + digits},
        {"0", ""},
        {"12345678", ""},
        {" 1234", "El PIN actual" + digits},
        // Eight two-byte letters fit the field: they fail as non-digits, not as too long.
        {"ññññññññ", "El PIN actual" + digits},
        // Dotless i (U+0131) and Arabic-Indic one (U+0661) are no digits here.
        {"123\xC4\xB1", "El PIN actual" + digits},
        {"\xD9\xA1", "El PIN actual" + digits},
        {std::string("12\0" "34", 5), "El PIN actual" + digits},
    };
    for (const auto& [pin, expected] : rows) EXPECT_EQ(notice("El PIN actual", pin), expected) << pin;
}

// Each field's failure, the field that gets the focus back and a confirmation that
// differs are proved end to end in the real dialog; here what cannot be typed there.
TEST(PinForm, AConfirmationTooLongOrOnlyAPrefixIsRefused) {
    auto v = PinForm::check("1234", "5678", "123456789");
    EXPECT_FALSE(v.accepted);
    EXPECT_EQ(v.focus, PinForm::confirmation);
    EXPECT_EQ(v.notice.text, "La confirmación del PIN nuevo no puede tener mas de 8 caracteres.");
    v = PinForm::check("1234", "5678", "567");
    EXPECT_FALSE(v.accepted || v.focus);
    EXPECT_EQ(v.notice.text, "El PIN nuevo no es igual a la confirmación del PIN nuevo.");
    v = PinForm::check("1234", "00005678", "00005678");
    EXPECT_TRUE(v.accepted && !v.focus);
}

TEST(SecretString, KeepsItsTextAcrossGrowthAndMoves) {
    SecretString s;
    std::string expected;
    for (int i = 0; i < 200; ++i) {
        s.append(static_cast<char>('0' + i % 10));
        expected += static_cast<char>('0' + i % 10);
    }
    EXPECT_EQ(s.str(), expected);
    SecretString moved(std::move(s));
    EXPECT_EQ(moved.str(), expected);
    EXPECT_TRUE(s.empty());
    SecretString other("12", 2);
    other = std::move(moved);
    EXPECT_EQ(other.str(), expected);
    other.clear();
    EXPECT_TRUE(other.empty());
}
