// The UTF-8/UTF-16 conversions of the Windows dialog program, run under Wine.
#include "Wide.h"

#include <gtest/gtest.h>

using namespace zelvo::ui;

TEST(Wide, TextRoundTripsWhateverItsScript) {
    for (std::string text : {"", "Default browser", "Conexión segura", "Ñandú €", "\xF0\x9D\x84\x9E clave"}) {
        std::wstring wide = widen(text);
        EXPECT_EQ(narrow(wide.data(), wide.size()), text);
    }
    EXPECT_EQ(widen("\xC3\xB3"), std::wstring(1, L'\x00F3'));
    EXPECT_EQ(widen("\xF0\x9D\x84\x9E"), (std::wstring{L'\xD834', L'\xDD1E'}));  // one character, two units
}

TEST(Wide, UnpairedSurrogatesAreNoTextButBadBytesAreShownReplaced) {
    const std::wstring bad[] = {{L'a', L'\xD834'}, {L'\xDD1E', L'b'}, {L'\xDD1E', L'\xD834'}};
    for (const auto& text : bad) EXPECT_EQ(narrow(text.data(), text.size()), std::nullopt);
    EXPECT_EQ(widen("a\xFF" "b"), (std::wstring{L'a', L'\xFFFD', L'b'}));
}
