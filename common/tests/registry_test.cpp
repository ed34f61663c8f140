#include "zelvo/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <filesystem>

using zelvo::Registry;

TEST(Registry, ReadsStringValuesWithEscapesCaseInsensitively) {
    Registry reg;
    reg.parse("\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
              "; a comment\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zelvo\\card]\r\n"
              "\"RuntimeLib\"=\"/opt/zelvo/plugins/vexa-tools.so\"\r\n"
              "\"Quoted\"=\"a \\\"b\\\" c\\\\d\"\r\n"
              "\"Number\"=dword:00000001\r\n"
              "@=\"default\"\r\n");
    std::string v;
    ASSERT_TRUE(reg.get("software\\zelvo\\CARD", "runtimelib", v));
    EXPECT_EQ(v, "/opt/zelvo/plugins/vexa-tools.so");
    ASSERT_TRUE(reg.get("SOFTWARE\\Zelvo\\card", "Quoted", v));
    EXPECT_EQ(v, "a \"b\" c\\d");
    EXPECT_FALSE(reg.get("SOFTWARE\\Zelvo\\card", "Number", v)) << "only string values count";
    ASSERT_TRUE(reg.get("SOFTWARE\\Zelvo\\card", "", v));
    EXPECT_EQ(v, "default");
    EXPECT_FALSE(reg.get("SOFTWARE\\Zelvo\\other", "RuntimeLib", v));
}

TEST(Registry, LaterValueWinsAndSubKeysAreListed) {
    Registry reg;
    reg.parse("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Clients\\StartMenuInternet\\Firefox]\n@=\"Firefox\"\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Clients\\StartMenuInternet\\Firefox\\shell\\open\\command]\n@=\"ff\"\n");
    reg.parse("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Clients\\StartMenuInternet\\firefox]\n@=\"Firefox 2\"\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Clients\\StartMenuInternet\\Chromium]\n@=\"Chromium\"\n");
    std::string v;
    ASSERT_TRUE(reg.get("SOFTWARE\\Clients\\StartMenuInternet\\Firefox", "@", v));
    EXPECT_EQ(v, "Firefox 2");
    auto subs = reg.subKeys("SOFTWARE\\Clients\\StartMenuInternet");
    ASSERT_EQ(subs.size(), 2u);
}

TEST(Registry, MalformedLinesAreSkipped) {
    Registry reg;
    reg.parse("[HKEY_LOCAL_MACHINE\\A\n\"x\"=\"1\"\n[HKEY_LOCAL_MACHINE\\B]\n\"unterminated=\"2\n\"y\"=\"ok\n\"z\"=\"3\"\n");
    std::string v;
    EXPECT_FALSE(reg.get("A", "x", v));
    EXPECT_FALSE(reg.get("B", "y", v));
    ASSERT_TRUE(reg.get("B", "z", v));
    EXPECT_EQ(v, "3");
}

TEST(Registry, EnvironmentListAndThe1024ByteRule) {
    auto dir = std::filesystem::temp_directory_path() / ("zelvo-reg-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "d");
    std::ofstream(dir / "d" / "b.reg") << "[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"second\"\n\"long\"=\"" << std::string(1023, 'x')
                                       << "\"\n\"toolong\"=\"" << std::string(1024, 'x') << "\"\n\"empty\"=\"\"\n";
    std::ofstream(dir / "d" / "a.reg") << "[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"first\"\n";
    std::ofstream(dir / "d" / "c.txt") << "[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"ignored\"\n";
    std::ofstream(dir / "last.reg") << "[HKEY_LOCAL_MACHINE\\K]\n\"w\"=\"file\"\n";
    std::string env = (dir / "d").string() + ":" + (dir / "last.reg").string();
    setenv("ZELVO_REGISTRY", env.c_str(), 1);
    std::string v;
    ASSERT_TRUE(zelvo::readRegistryString("K", "v", v));
    EXPECT_EQ(v, "second");
    ASSERT_TRUE(zelvo::readRegistryString("K", "w", v));
    EXPECT_EQ(v, "file");
    ASSERT_TRUE(zelvo::readRegistryString("K", "long", v));
    EXPECT_EQ(v.size(), 1023u);
    EXPECT_FALSE(zelvo::readRegistryString("K", "toolong", v));
    ASSERT_TRUE(zelvo::readRegistryString("K", "empty", v));
    EXPECT_EQ(v, "");
    unsetenv("ZELVO_REGISTRY");
    std::filesystem::remove_all(dir);
}
