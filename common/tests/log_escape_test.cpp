// What a log record makes of outside text; that every record stays one line whatever it
// quotes is proved end to end on the launcher's log.
#include "zelvo/log_escape.h"

#include <gtest/gtest.h>

#include <cctype>

namespace {

struct Case {
    const char* name;
    std::string in;
    std::string out;
};

const Case kCases[] = {
    {"plain text stays", "read abi dg1", "read abi dg1"},
    {"accents stay", "Petición recibida: año, cañón, ü", "Petición recibida: año, cañón, ü"},
    {"four-byte characters stay", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
    {"line breaks and tab", "a\nb\rc\td", "a\\nb\\rc\\td"},
    {"a forged record", "x\n2026-01-01 00:00:00.000 INFO  [1] [A::b@1] forged",
     "x\\n2026-01-01 00:00:00.000 INFO  [1] [A::b@1] forged"},
    {"other control characters", std::string("\x00\x01\x1b[31m\x7f", 8), "\\x00\\x01\\x1B[31m\\x7F"},
    {"the backslash doubled", "SOFTWARE\\Zelvo\\vexa\\n", "SOFTWARE\\\\Zelvo\\\\vexa\\\\n"},
    {"a lone continuation byte", "a\x80z", "a\\x80z"},
    {"a cut sequence at the end", "caf\xC3", "caf\\xC3"},
    {"a cut sequence before ASCII", "\xE2\x82z", "\\xE2\\x82z"},
    {"an overlong form", "\xC0\xAF", "\\xC0\\xAF"},
    {"an overlong three-byte form", "\xE0\x80\xAF", "\\xE0\\x80\\xAF"},
    {"a surrogate", "\xED\xA0\x80", "\\xED\\xA0\\x80"},
    {"past U+10FFFF", "\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},
    {"a byte that is never UTF-8", "\xFF\xFE", "\\xFF\\xFE"},
    {"a C1 control (NEL)", "a\xC2\x85z", "a\\xC2\\x85z"},
    {"the line separator", "a\xE2\x80\xA8z", "a\\xE2\\x80\\xA8z"},
    {"U+00A0 is no control", "a\xC2\xA0z", "a\xC2\xA0z"},
    {"empty", "", ""},
};

class EscapeForLog : public ::testing::TestWithParam<Case> {};

TEST_P(EscapeForLog, WritesOutsideTextAsOneReadableLine) {
    EXPECT_EQ(zelvo::escapeForLog(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(Table, EscapeForLog, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c; ++c)
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return name;
                         });

}  // namespace
