// The Windows command line a child splits again by CommandLineToArgvW's rules;
// the Windows build proves the same table against a real child (platform_win32_test).
#include "zelvo/command_line.h"

#include <gtest/gtest.h>

TEST(CommandLine, EveryWordComesBackAsItWas) {
    const std::pair<const char*, const char*> rows[] = {
        {"simple", "simple"},
        {"", "\"\""},
        {"con espacio", "\"con espacio\""},
        {"C:\\Program Files (x86)\\Zelvo\\", "\"C:\\Program Files (x86)\\Zelvo\\\\\""},
        {"C:\\sin\\espacios\\", "C:\\sin\\espacios\\"},  // backslashes only count before a quote
        {"di \"hola\"", "\"di \\\"hola\\\"\""},
        {"a\\\"b", "\"a\\\\\\\"b\""},
        {"tab\there", "\"tab\there\""},
        {"Ñandú café", "\"Ñandú café\""},
        {"-Dlog4jpath=C:\\Users\\Ana María\\AppData\\Local\\Zelvo\\signing\\",
         "\"-Dlog4jpath=C:\\Users\\Ana María\\AppData\\Local\\Zelvo\\signing\\\\\""},
    };
    for (const auto& [word, quoted] : rows) EXPECT_EQ(zelvo::quoteWindowsArgument(word), quoted) << word;
    EXPECT_EQ(zelvo::windowsCommandLine({"C:\\Program Files\\Java\\bin\\javaw.exe", "-jar", "a b.jar"}),
              "\"C:\\Program Files\\Java\\bin\\javaw.exe\" -jar \"a b.jar\"");
}
