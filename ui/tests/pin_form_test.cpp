#include "PinForm.h"

#include <gtest/gtest.h>

using namespace zelvo::ui;

TEST(ValidatePin, ChecksPresenceThenLengthThenDigits) {
    auto empty = validatePin("El PIN actual", "");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->text, "El PIN actual es requerido");
    EXPECT_EQ(empty->caption, "Información incorrecta.");

    // Too long and not digits: the length is reported first.
    auto tooLong = validatePin("El PIN nuevo", "123456789a");
    ASSERT_TRUE(tooLong);
    EXPECT_EQ(tooLong->text, "El PIN nuevo no puede tener mas de 8 caracteres.");
    EXPECT_EQ(tooLong->caption, "Información incorrecta");

    auto letter = validatePin("El PIN nuevo", "12a4");
    ASSERT_TRUE(letter);
    EXPECT_EQ(letter->text, "El PIN nuevo solo debe tener dígitos (0-9).");
    EXPECT_EQ(letter->caption, "Información incorrecta");

    EXPECT_FALSE(validatePin("El PIN actual", "0"));
    EXPECT_FALSE(validatePin("El PIN actual", "12345678"));
    EXPECT_TRUE(validatePin("El PIN actual", " 1234"));
}

TEST(ValidatePin, CountsCharactersNotBytesAndTakesNoLookAlikeDigits) {
    // Eight two-byte letters fit the field: they fail as non-digits, not as too long.
    auto letters = validatePin("El PIN actual", "ññññññññ");
    ASSERT_TRUE(letters);
    EXPECT_EQ(letters->text, "El PIN actual solo debe tener dígitos (0-9).");
    // Dotless i (U+0131) and Arabic-Indic one (U+0661) are no digits here.
    EXPECT_TRUE(validatePin("El PIN actual", "123\xC4\xB1"));
    EXPECT_TRUE(validatePin("El PIN actual", "\xD9\xA1"));
    EXPECT_TRUE(validatePin("El PIN actual", std::string("12\0" "34", 5)));
}

TEST(PinForm, StopsAtTheFirstFailingFieldAndNamesIt) {
    auto v = PinForm::check("", "x", "");
    EXPECT_FALSE(v.accepted);
    ASSERT_TRUE(v.focus);
    EXPECT_EQ(*v.focus, PinForm::current);
    EXPECT_EQ(v.notice.text, "El PIN actual es requerido");

    v = PinForm::check("1234", "12b4", "");
    ASSERT_TRUE(v.focus);
    EXPECT_EQ(*v.focus, PinForm::fresh);
    EXPECT_EQ(v.notice.text, "El PIN nuevo solo debe tener dígitos (0-9).");

    v = PinForm::check("1234", "5678", "");
    ASSERT_TRUE(v.focus);
    EXPECT_EQ(*v.focus, PinForm::confirmation);
    EXPECT_EQ(v.notice.text, "La confirmación del PIN nuevo es requerido");
    EXPECT_EQ(v.notice.caption, "Información incorrecta.");

    v = PinForm::check("1234", "5678", "123456789");
    ASSERT_TRUE(v.focus);
    EXPECT_EQ(*v.focus, PinForm::confirmation);
    EXPECT_EQ(v.notice.text, "La confirmación del PIN nuevo no puede tener mas de 8 caracteres.");
}

TEST(PinForm, RequiresTheConfirmationToMatch) {
    auto v = PinForm::check("1234", "5678", "5679");
    EXPECT_FALSE(v.accepted);
    EXPECT_FALSE(v.focus);
    EXPECT_EQ(v.notice.text, "El PIN nuevo no es igual a la confirmación del PIN nuevo.");
    EXPECT_EQ(v.notice.caption, "Información incorrecta");

    // A prefix is no match either.
    EXPECT_FALSE(PinForm::check("1234", "5678", "567").accepted);

    v = PinForm::check("1234", "00005678", "00005678");
    EXPECT_TRUE(v.accepted);
    EXPECT_FALSE(v.focus);
}

TEST(PinForm, AnswersBothPinsOneALineAndTitlesByType) {
    EXPECT_EQ(PinForm::answer("1234", "5678").str(), "1234\n5678\n");
    EXPECT_EQ(PinForm::title(PinType::auth), "Cambiar PIN de autenticación");
    EXPECT_EQ(PinForm::title(PinType::sign), "Cambiar PIN de firma");
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
