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

// config.ini by the profile reader's rules, one case a row: the file's text (or
// none, or a folder in its place) and the settings read from it, as
// "wrapperJar|wrapperClass|deleteFilesAfterSigning|javaModifiers|signingTimeoutSeconds".
TEST(Settings, ConfigIniFollowsTheProfileReadersRules) {
    const std::string none = "(none)", folder = "(folder)", jar = "quillet-wrapper-1.0.dist.jar",
                      main = "tavrel.quillet.wrapper.StandaloneMain", longJar = std::string(300, 'j') + ".jar";
    const struct {
        const char* rule;
        std::string ini;
        std::string settings;
    } rows[] = {
        {"no file: the defaults", none, jar + "|" + main + "|1||900"},
        {"a folder is no file", folder, jar + "|" + main + "|1||900"},
        {"another section", "[otra]\nwrapperJar=x.jar\n", jar + "|" + main + "|1||900"},
        {"names in any case", "[CONFIG]\nWRAPPERJAR=a.jar\nDeleteFilesAfterSigning=0\n", "a.jar|" + main + "|0||900"},
        {"blanks trimmed", "  [ config ]  \r\n \t wrapperJar \t=  a b.jar \t\r\n", "a b.jar|" + main + "|1||900"},
        {"no continuation lines", "[config]\nwrapperJar=a.jar\n  b.jar\n  wrapperClass=x.Y\n", "a.jar|x.Y|1||900"},
        {"lines of any length", "[config]\nwrapperJar=" + longJar + "\n", longJar + "|" + main + "|1||900"},
        {"the first of two keys wins", "[config]\nwrapperJar=a.jar\n[Config]\nwrapperJar=b.jar\nWRAPPERJAR=c.jar\n",
         "a.jar|" + main + "|1||900"},
        {"matching quotes go", "[config]\nwrapperJar=\" a.jar \"\nwrapperClass='x.Y'\njavaModifiers=\"-Da=1 -Db=\"2\"\n",
         " a.jar |x.Y|1|-Da=1 -Db=\"2|900"},
        {"quotes that do not match stay", "[config]\nwrapperJar=\"a.jar\njavaModifiers='-Da=1\"\n",
         "\"a.jar|" + main + "|1|'-Da=1\"|900"},
        {"; starts a comment only at the beginning", "[config]\n; wrapperJar=a.jar\n  ;wrapperClass=x.Y\njavaModifiers=-Da=1 ; -Db=2\n",
         jar + "|" + main + "|1|-Da=1 ; -Db=2|900"},
        {"numbers by their leading digits", "[config]\ndeleteFilesAfterSigning= 12abc\nsigningTimeoutSeconds=0\n",
         jar + "|" + main + "|12||0"},
        {"no digits; a negative time-out", "[config]\ndeleteFilesAfterSigning=no\nsigningTimeoutSeconds=-5\n",
         jar + "|" + main + "|0||900"},
    };
    for (const auto& row : rows) {
        TempDir dir;
        std::string file = dir.path() + "config.ini";
        if (row.ini == folder)
            ASSERT_TRUE(zelvo::makeDirs(file, 0700));
        else if (row.ini != none)
            writeFile(file, row.ini);
        Config c(dir.path(), dir.path());
        std::string settings = c.wrapperJarPath().substr(dir.path().size()) + "|" + c.wrapperClass() + "|" +
                               std::to_string(c.deleteFilesAfterSigning()) + "|" + c.javaModifiers() + "|" +
                               std::to_string(c.signingTimeoutSeconds());
        EXPECT_EQ(settings, row.settings) << row.rule;
    }
}

// The words the child gets; the text of each system's command line is in
// ConfigTest_posix.cpp and ConfigTest_win32.cpp, the whole line end to end.
TEST(Settings, TheJavaModifiersComeFirstAsWordsOfTheirOwn) {
    TempDir dir;
    writeFile(dir.path() + "config.ini", "[config]\njavaModifiers=-Xmx64m -Dx=\"1 2\"\n");
    std::string work = dir.path() + "mi carpeta" + zelvo::kPathSeparator;
    process::CommandLine line = Config(dir.path(), work).commandLine("jre-java", "q.jar");
    EXPECT_EQ(line.words(), (std::vector<std::string>{"jre-java", "-Xmx64m", "-Dx=1 2", "-Dlog4jpath=" + work, "-cp",
                                                      "q.jar" + std::string(1, zelvo::kSearchPathSeparator) +
                                                          dir.path() + "quillet-wrapper-1.0.dist.jar",
                                                      "tavrel.quillet.wrapper.StandaloneMain"}));
}

}  // namespace
