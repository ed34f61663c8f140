#include "DialogCommand.h"
#include "Utf8.h"

#include <gtest/gtest.h>

using namespace zelvo::ui;

TEST(DialogCommand, ReadsAMessageBoxInAnyOptionOrder) {
    auto p = DialogCommand::parse({"message", "--text", "No hay lector", "--icon", "warning", "--title", "Error"});
    ASSERT_TRUE(p.command) << p.error;
    EXPECT_EQ(p.command->kind, DialogCommand::Kind::message);
    EXPECT_EQ(p.command->icon, Icon::warning);
    EXPECT_EQ(p.command->title, "Error");
    EXPECT_EQ(p.command->text, "No hay lector");
    // A text that looks like an option is still the value.
    p = DialogCommand::parse({"message", "--icon", "error", "--title", "--text", "--text", "--icon"});
    ASSERT_TRUE(p.command) << p.error;
    EXPECT_EQ(p.command->title, "--text");
    EXPECT_EQ(p.command->text, "--icon");
}

TEST(DialogCommand, RefusesIncompleteOrUnknownArguments) {
    EXPECT_EQ(DialogCommand::parse({}).error, "Falta el diálogo a mostrar");
    EXPECT_EQ(DialogCommand::parse({"ventana"}).error, "Diálogo desconocido: ventana");
    EXPECT_EQ(DialogCommand::parse({"message", "--icon", "error", "--title", "T"}).error, "Falta la opción --text");
    EXPECT_EQ(DialogCommand::parse({"message", "--icon", "question", "--title", "T", "--text", "x"}).error,
              "Icono no válido: question");
    EXPECT_EQ(DialogCommand::parse({"message", "--icon"}).error, "Falta el valor de la opción --icon");
    EXPECT_EQ(DialogCommand::parse({"message", "extra"}).error, "Argumento no esperado: extra");
    EXPECT_EQ(DialogCommand::parse({"pin"}).error, "Falta la opción --type");
    EXPECT_EQ(DialogCommand::parse({"pin", "--type", "Auth"}).error, "Tipo de PIN no válido: Auth");
    EXPECT_EQ(DialogCommand::parse({"pin", "--type", "auth", "--secure"}).error, "Opción desconocida: --secure");
    EXPECT_EQ(DialogCommand::parse({"browser", "Firefox"}).error, "Falta la opción --title");
    EXPECT_EQ(DialogCommand::parse({"consent", "--origin", "https://a.gob"}).error, "Falta la opción --application");
    auto p = DialogCommand::parse({"consent", "--application", "--origin", "--origin", "https://a.gob"});
    ASSERT_TRUE(p.command && p.command->kind == DialogCommand::Kind::consent) << p.error;
    EXPECT_EQ(p.command->origin + " " + p.command->text, "https://a.gob --origin");
}

TEST(DialogCommand, ReadsThePinType) {
    auto p = DialogCommand::parse({"pin", "--type", "sign"});
    ASSERT_TRUE(p.command) << p.error;
    EXPECT_EQ(p.command->kind, DialogCommand::Kind::pin);
    EXPECT_EQ(p.command->pinType, PinType::sign);
    EXPECT_EQ(DialogCommand::parse({"pin", "--type", "auth"}).command->pinType, PinType::auth);
}

TEST(DialogCommand, ReadsBrowserNamesAndSwitchesAndHonoursTheEndOfOptions) {
    auto p = DialogCommand::parse({"browser", "Firefox", "--title", "Probar Componente - Zelvo", "--secure", "Chromium",
                                   "--", "--hide-secure", "-x"});
    ASSERT_TRUE(p.command) << p.error;
    EXPECT_EQ(p.command->kind, DialogCommand::Kind::browser);
    EXPECT_EQ(p.command->title, "Probar Componente - Zelvo");
    EXPECT_TRUE(p.command->secure);
    EXPECT_FALSE(p.command->hideSecure);
    EXPECT_EQ(p.command->names, (std::vector<std::string>{"Firefox", "Chromium", "--hide-secure", "-x"}));

    p = DialogCommand::parse({"browser", "--title", "", "--hide-secure"});
    ASSERT_TRUE(p.command) << p.error;
    EXPECT_TRUE(p.command->hideSecure);
    EXPECT_TRUE(p.command->names.empty());
}

TEST(Utf8, ReplacesOnlyMalformedBytes) {
    EXPECT_EQ(validUtf8("Conexión segura"), "Conexión segura");
    EXPECT_EQ(validUtf8("a\xC3"), "a\xEF\xBF\xBD");              // cut short
    EXPECT_EQ(validUtf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");  // overlong
    EXPECT_EQ(validUtf8("\xED\xA0\x80").size(), 9u);              // surrogate
    EXPECT_EQ(validUtf8("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(utf8Length("ñandú"), 5u);
    EXPECT_EQ(utf8Length("\xFF\xFE"), 2u);
}
