// The plug-in's settings and the child's command line. Finding the Quillet jar
// and java, with every failure's text, is proved end to end; here the line rules.
#include "Config.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace quillet;
using namespace testing_support;

namespace {

TEST(Properties, FindsTheQuilletJarLineWhateverTheLineEnds) {
    const std::pair<const char*, const char*> rows[] = {
        {"A=1\r\nQUILLET_JAR=/opt/q.jar\r\nB=2", "/opt/q.jar"},
        {"  \tQUILLET_JAR = /opt/q q.jar \n", "/opt/q q.jar"},
        {"QUILLET_JAR=/a=b.jar\nQUILLET_JAR=/ok.jar\n", "/ok.jar"},
        {"# nothing here\nOTHER=1\n", ""},
    };
    for (const auto& [properties, jar] : rows) EXPECT_EQ(findQuilletJar(properties), jar) << properties;
}

TEST(Settings, DefaultsWithoutFileOrSectionAndValuesWhenGiven) {
    TempDir dir;
    auto settings = [&] {
        Config c(dir.path(), dir.path());
        return c.wrapperJarPath().substr(dir.path().size()) + " " + c.wrapperClass() + " " +
               std::to_string(c.deleteFilesAfterSigning()) + " " + c.javaModifiers();
    };
    const std::string defaults = "quillet-wrapper-1.0.dist.jar tavrel.quillet.wrapper.StandaloneMain 1 ";
    EXPECT_EQ(settings(), defaults);
    writeFile(dir.path() + "config.ini", "[otra]\nwrapperJar=x.jar\ndeleteFilesAfterSigning=0\n");
    EXPECT_EQ(settings(), defaults);
    writeFile(dir.path() + "config.ini",
              "; comentario\n[config]\nwrapperJar = w.jar\nwrapperClass=a.B\ndeleteFilesAfterSigning=0\n"
              "javaModifiers=-Xmx64m -Dx=\"1 2\"\nthis line is not valid\n");
    EXPECT_EQ(settings(), "w.jar a.B 0 -Xmx64m -Dx=\"1 2\"");
    EXPECT_EQ(profileInt(" 12abc"), 12);
    EXPECT_EQ(profileInt("no"), 0);
}

// The plain command line, and a folder with blanks, reach the child end to end.
TEST(Settings, TheJavaModifiersComeFirstAsWordsOfTheirOwn) {
    TempDir dir;
    writeFile(dir.path() + "config.ini", "[config]\njavaModifiers=-Xmx64m -Dx=\"1 2\"\n");
    Config blanks(dir.path(), "/home/u/.local/state/mi carpeta/");
    CommandLine b = blanks.commandLine("/q.jar");
    EXPECT_EQ(b.args, (std::vector<std::string>{"java", "-Xmx64m", "-Dx=1 2",
                                                "-Dlog4jpath=/home/u/.local/state/mi carpeta/", "-cp",
                                                "/q.jar:" + dir.path() + "quillet-wrapper-1.0.dist.jar",
                                                "tavrel.quillet.wrapper.StandaloneMain"}));
    EXPECT_NE(b.text.find(" \"-Dlog4jpath=/home/u/.local/state/mi carpeta/\" -cp "), std::string::npos);
}

}  // namespace
