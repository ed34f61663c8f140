#include "zelvo/registry.h"
#include "zelvo/registry_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using zelvo::Registry;
namespace fs = std::filesystem;

TEST(Registry, ReadsStringValuesWithEscapesCaseInsensitively) {
    Registry reg;
    reg.parse("\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
              "; a comment\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zelvo\\card]\r\n"
              "\"RuntimeLib\"=\"/opt/zelvo/plugins/vexa-tools.so\"\r\n"
              "\"Quoted\"=\"a \\\"b\\\" c\\\\d\"\r\n"
              "\"Number\"=dword:00000001\r\n\"Version\"=\"1\"\r\n"
              "@=\"default\"\r\n"
              // Malformed lines are skipped: an unclosed key, unterminated names and values.
              "[HKEY_LOCAL_MACHINE\\A\n\"x\"=\"1\"\n[HKEY_LOCAL_MACHINE\\B]\n\"unterminated=\"2\n\"y\"=\"ok\n\"z\"=\"3\"\n");
    // A later text's value wins, whatever the case of its key; sub-keys are listed end to end.
    reg.parse("[HKEY_LOCAL_MACHINE\\software\\ZELVO\\card]\n\"VERSION\"=\"2\"\n");
    // Key, value name, found, value; only string values count.
    const std::tuple<const char*, const char*, bool, const char*> rows[] = {
        {"software\\zelvo\\CARD", "runtimelib", true, "/opt/zelvo/plugins/vexa-tools.so"},
        {"SOFTWARE\\Zelvo\\card", "Quoted", true, "a \"b\" c\\d"},
        {"SOFTWARE\\Zelvo\\card", "Version", true, "2"},
        {"SOFTWARE\\Zelvo\\card", "Number", false, ""},
        {"SOFTWARE\\Zelvo\\card", "", true, "default"},
        {"SOFTWARE\\Zelvo\\other", "RuntimeLib", false, ""},
        {"A", "x", false, ""},
        {"B", "y", false, ""},
        {"B", "z", true, "3"},
    };
    for (const auto& [key, name, found, value] : rows) {
        std::string v;
        EXPECT_EQ(reg.get(key, name, v), found) << key << " " << name;
        if (found) { EXPECT_EQ(v, value); }
    }
}

TEST(Registry, EnvironmentListAndThe1024ByteRule) {
    std::string pattern = (fs::temp_directory_path() / "zelvo-reg-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern;
    fs::create_directories(dir / "d");
    std::ofstream(dir / "d" / "b.reg") << "[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"second\"\n\"long\"=\"" << std::string(1023, 'x')
                                       << "\"\n\"toolong\"=\"" << std::string(1024, 'x') << "\"\n\"empty\"=\"\"\n";
    std::ofstream(dir / "d" / "a.reg") << "[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"first\"\n";
    std::ofstream(dir / "d" / "c.txt") << "[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"ignored\"\n";
    std::ofstream(dir / "last.reg") << "[HKEY_LOCAL_MACHINE\\K]\n\"w\"=\"file\"\n";
    setenv("ZELVO_REGISTRY", ((dir / "d").string() + ":" + (dir / "last.reg").string()).c_str(), 1);
    for (auto [name, value] : {std::pair<const char*, std::string>{"v", "second"}, {"w", "file"},
                               {"long", std::string(1023, 'x')}, {"empty", ""}}) {
        std::string v;
        ASSERT_TRUE(zelvo::readRegistryString("K", name, v)) << name;
        EXPECT_EQ(v, value);
    }
    std::string v;
    EXPECT_FALSE(zelvo::readRegistryString("K", "toolong", v));
    // The files are one view: the other word size's has nothing.
    EXPECT_FALSE(zelvo::readRegistryString("K", "v", v, zelvo::RegistryView::other));
    // A reader that expects longer values gives a larger buffer.
    EXPECT_TRUE(zelvo::readRegistryString("K", "toolong", v, zelvo::RegistryView::own, 1025));
    EXPECT_EQ(v, std::string(1024, 'x'));
    EXPECT_FALSE(zelvo::readRegistryString("K", "long", v, zelvo::RegistryView::own, 1023));
    unsetenv("ZELVO_REGISTRY");
    fs::remove_all(dir);
}

TEST(Registry, AKeyNamedInAnyCaseIsSpelledAsTheFilesWriteIt) {
    Registry reg;
    reg.parse("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zelvo\\vexa]\n\"RuntimeLib\"=\"/x.so\"\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zelvo\\vexa-beta]\n"
              "[HKEY_LOCAL_MACHINE\\software\\ZELVO\\VEXA\\Sub]\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Otro\\Padre\\Hijo]\n");
    const std::pair<const char*, std::optional<std::string>> rows[] = {
        {"SOFTWARE\\Zelvo\\vexa", "vexa"},
        {"software\\zelvo\\VEXA", "vexa"},
        {"SOFTWARE\\Zelvo\\Vexa\\", "vexa"},
        {"SOFTWARE\\Zelvo\\vexa\\\\\\", "vexa"},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Zelvo\\vexa", "vexa"},
        {"SOFTWARE\\Zelvo\\vexa\\sub", "Sub"},        // written later in another case: the first spelling holds
        {"SOFTWARE\\Zelvo\\VEXA-BETA", "vexa-beta"},
        {"SOFTWARE\\Otro\\padre", "Padre"},         // a parent exists with its children
        {"SOFTWARE\\Zelvo\\vex", std::nullopt},     // a prefix of a name is no key
        {"SOFTWARE\\Zelvo\\quillet", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [key, name] : rows) EXPECT_EQ(reg.keyName(key), name) << key;
}
