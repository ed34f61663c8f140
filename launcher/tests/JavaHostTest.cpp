// Text between UTF-8 and Java's UTF-16. Where libjvm.so is looked for (the
// registry, its client/ and server/ folders, JAVA_HOME) and the JVM itself are
// exercised end to end.
#include "java/JniText.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

// Decodes exactly `text`'s bytes from a heap block of that size, so that a read
// past the end shows under the sanitizers.
std::u16string toUtf16(const std::string& text) {
    std::unique_ptr<char[]> exact(new char[text.size() ? text.size() : 1]);
    std::copy(text.begin(), text.end(), exact.get());
    return jnitext::utf8ToUtf16(exact.get(), text.size());
}

std::string toUtf8(const std::u16string& units) { return jnitext::utf16ToUtf8(units.data(), units.size()); }

const char16_t R = 0xFFFD;

}  // namespace

TEST(JniText, WellFormedTextRoundTripsThroughUtf16) {
    const std::string text = std::string("a\0b", 3) + "ñ€\xF0\x9D\x84\x9E";  // NUL, 2, 3 and 4 bytes
    std::u16string units = toUtf16(text);
    EXPECT_EQ(units, (std::u16string{u'a', 0, u'b', 0x00F1, 0x20AC, 0xD834, 0xDD1E}));
    EXPECT_EQ(toUtf8(units), text);
}

TEST(JniText, EachMalformedSequenceBecomesOneReplacementCharacter) {
    const std::pair<std::string, std::u16string> rows[] = {
        {"a\xFF" "b", {u'a', R, u'b'}},
        {"\x80", {R}},                        // continuation without a lead
        {"x\xE2\x82" "y", {u'x', R, u'y'}},   // cut short by another character
        {"x\xE2\x82", {u'x', R}},             // cut short by the end
        {"\xF0\x9D\x84", {R}},
        {"\xC0\xAF", {R}},                    // overlong '/'
        {"\xE0\x80\xAF", {R}},                // overlong '/'
        {"\xED\xA0\x80", {R}},                // an encoded surrogate
        {"\xF4\x90\x80\x80", {R}},            // above U+10FFFF
        {"", {}},
    };
    for (const auto& [bytes, units] : rows) EXPECT_EQ(toUtf16(bytes), units) << bytes;
}

TEST(JniText, UnpairedSurrogatesFromJavaBecomeReplacementCharacters) {
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ(toUtf8({u'a', 0xD834}), "a" + r);  // high half at the end
    EXPECT_EQ(toUtf8({0xDD1E, u'b'}), r + "b");  // low half alone
    EXPECT_EQ(toUtf8({0xD834, 0xD834, 0xDD1E}), r + "\xF0\x9D\x84\x9E");
}
