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

// More refusals, with the exit code and the usage, are proved end to end.
TEST(DialogCommand, RefusesIncompleteOrUnknownArguments) {
    const std::pair<std::vector<std::string>, const char*> rows[] = {
        {{"ventana"}, "Diálogo desconocido: ventana"},
        {{"message", "--icon", "error", "--title", "T"}, "Falta la opción --text"},
        {{"message", "--icon", "question", "--title", "T", "--text", "x"}, "Icono no válido: question"},
        {{"message", "--icon"}, "Falta el valor de la opción --icon"},
        {{"message", "extra"}, "Argumento no esperado: extra"},
        {{"pin"}, "Falta la opción --type"},
        {{"pin", "--type", "auth", "--secure"}, "Opción desconocida: --secure"},
        {{"consent", "--origin", "https://a.gob"}, "Falta la opción --application"},
    };
    for (const auto& [words, error] : rows) EXPECT_EQ(DialogCommand::parse(words).error, error);
    // A value may look like an option: it is taken as it stands.
    auto p = DialogCommand::parse({"consent", "--application", "--origin", "--origin", "https://a.gob"});
    ASSERT_TRUE(p.command && p.command->kind == DialogCommand::Kind::consent) << p.error;
    EXPECT_EQ(p.command->origin + " " + p.command->text, "https://a.gob --origin");
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
    const std::string r = "\xEF\xBF\xBD";
    for (auto [text, valid] : {std::pair<std::string, std::string>{"Conexión segura", "Conexión segura"},
                               {"a\xC3", "a" + r},                 // cut short
                               {"\xC0\xAF", r + r},                 // overlong
                               {"\xED\xA0\x80", r + r + r},          // surrogate
                               {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"}})
        EXPECT_EQ(validUtf8(text), valid) << text;
    EXPECT_EQ(utf8Length("ñandú"), 5u);
    EXPECT_EQ(utf8Length("\xFF\xFE"), 2u);
}
